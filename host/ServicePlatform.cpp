#include "ServicePlatform.h"

const ServicePlatform kSystemServicePlatform = {
    RegisterEventSourceA, ReportEventA, DeregisterEventSource, RegisterServiceCtrlHandlerA,
    SetServiceStatus, RegCreateKeyExA};

ServicePlatform g_servicePlatform = kSystemServicePlatform;
