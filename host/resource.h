#ifndef RESOURCE_H
#define RESOURCE_H

#define IDR_MAINFRAME 128

#endif
