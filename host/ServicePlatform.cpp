#include "ServicePlatform.h"

const ServicePlatform kSystemServicePlatform = {
    RegisterEventSourceA, ReportEventA, DeregisterEventSource, RegisterServiceCtrlHandlerA,
    SetServiceStatus};

ServicePlatform g_servicePlatform = kSystemServicePlatform;
