#include "ServicePlatform.h"

const ServicePlatform kSystemServicePlatform = {
    RegisterEventSourceA, ReportEventA,    DeregisterEventSource, RegisterServiceCtrlHandlerExA,
    SetServiceStatus,     RegCreateKeyExA, ChangeServiceConfig2A};

ServicePlatform g_servicePlatform = kSystemServicePlatform;
