// Named mutexes, as the one-setup-at-a-time lock uses them: a "Global\"
// name, a descriptor that makes Administrators the owner, the owner read
// back through a second handle, and who may release.
#include "tests/contract/contract.h"

CONTRACT_TEST(test_CreateMutexA) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = NULL;
    ok(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &admins),
       "the Administrators SID");
    SECURITY_DESCRIPTOR sd;
    ok(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) && SetSecurityDescriptorOwner(&sd, admins, FALSE),
       "a descriptor owned by Administrators");
    SECURITY_ATTRIBUTES sa = {sizeof(sa), &sd, FALSE};

    SetLastError(0xdeadbeef);
    HANDLE first = CreateMutexA(&sa, FALSE, "Global\\VornContractMutex");
    ok(first != NULL && GetLastError() != ERROR_ALREADY_EXISTS, "new mutex: %p, error %lu", first,
       (unsigned long)GetLastError());
    SetLastError(0xdeadbeef);
    HANDLE second = CreateMutexA(NULL, FALSE, "Global\\VornContractMutex");
    ok(second != NULL && GetLastError() == ERROR_ALREADY_EXISTS, "opened again: error %lu",
       (unsigned long)GetLastError());

    union {
        SECURITY_DESCRIPTOR sd;
        BYTE bytes[256];
    } read;
    DWORD cbNeeded = 0;
    PSID owner = NULL;
    BOOL defaulted = TRUE;
    ok(GetKernelObjectSecurity(second, OWNER_SECURITY_INFORMATION, &read, sizeof(read), &cbNeeded) &&
           GetSecurityDescriptorOwner(&read, &owner, &defaulted) && owner && EqualSid(owner, admins),
       "the owner the creator gave");

    ok(WaitForSingleObject(first, 0) == WAIT_OBJECT_0, "a free mutex is taken at once");
    ok(ReleaseMutex(first), "its holder lets it go");
    SetLastError(0xdeadbeef);
    ok(!ReleaseMutex(first) && GetLastError() == ERROR_NOT_OWNER, "a second release: error %lu",
       (unsigned long)GetLastError());
    CloseHandle(second);
    CloseHandle(first);
    FreeSid(admins);
}
