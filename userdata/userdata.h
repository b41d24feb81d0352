// The user's earlier data and the configuration files the input method reads.
#pragma once

#include "platform/win32.h"

enum { kOrgAddressBytes = 100 };

// The web address of the user's organisation (options page); empty when silent.
extern char g_orgAddress[kOrgAddressBytes];

void WriteConfigurationFiles(void);
void AskKeepUserData(void);
