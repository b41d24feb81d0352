// Placeholder operations until the configuration files are built.
#include "userdata/userdata.h"

char g_orgAddress[kOrgAddressBytes];
void WriteConfigurationFiles(void) {}
void AskKeepUserData(void) {}
