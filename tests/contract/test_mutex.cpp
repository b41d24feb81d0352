// Named mutexes, as the one-setup-at-a-time lock uses them: a "Global\"
// name, Administrators made the owner, the owner read back through a second
// handle, and a release by its holder only.
#include "tests/contract/contract.h"

CONTRACT_TEST(test_CreateMutexA) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = NULL;
    SECURITY_DESCRIPTOR sd;
    ok(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &admins) &&
           InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) && SetSecurityDescriptorOwner(&sd, admins, FALSE),
       "a descriptor owned by Administrators");
    SECURITY_ATTRIBUTES sa = {sizeof(sa), &sd, FALSE};
    HANDLE first = CreateMutexA(&sa, FALSE, "Global\\VornContractMutex");
    ok(first != NULL && GetLastError() != ERROR_ALREADY_EXISTS, "new: error %lu", (unsigned long)GetLastError());
    HANDLE second = CreateMutexA(NULL, FALSE, "Global\\VornContractMutex");
    ok(second != NULL && GetLastError() == ERROR_ALREADY_EXISTS, "again: error %lu", (unsigned long)GetLastError());

    union {
        SECURITY_DESCRIPTOR sd;
        BYTE bytes[256];
    } read;
    DWORD cbNeeded = 0;
    PSID owner = NULL;
    BOOL defaulted = TRUE;
    ok(GetKernelObjectSecurity(second, OWNER_SECURITY_INFORMATION, &read, sizeof(read), &cbNeeded) &&
           GetSecurityDescriptorOwner(&read, &owner, &defaulted) && owner && EqualSid(owner, admins),
       "the owner its creator gave");
    ok(WaitForSingleObject(first, 0) == WAIT_OBJECT_0 && ReleaseMutex(first), "taken at once, let go");
    SetLastError(0xdeadbeef);
    ok(!ReleaseMutex(first) && GetLastError() == ERROR_NOT_OWNER, "let go twice: %lu", (unsigned long)GetLastError());
    CloseHandle(second);
    CloseHandle(first);
    FreeSid(admins);
}
