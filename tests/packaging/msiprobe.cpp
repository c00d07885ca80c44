// msiprobe: what Windows Installer knows of the installed packages, through its API, for
// the package tests under Wine; and the change of a service's account by hand, as
// `sc config NAME obj= ACCOUNT` makes it, which Wine's sc cannot.
//
//   msiprobe related UPGRADE-CODE      one line per installed product of that upgrade code:
//                                      "{PRODUCT-CODE} VERSION NAME"
//   msiprobe feature PRODUCT FEATURE   the feature's state: "local", "absent" or the number
//   msiprobe account SERVICE ACCOUNT   sets the service's account (no password)
//
// Exit code 0 on success, else the Windows Installer error code.
#include <windows.h>
#include <msi.h>
#include <stdio.h>
#include <string.h>

static int Related(const char* upgradeCode) {
    char product[39];
    for (DWORD index = 0;; ++index) {
        UINT result = MsiEnumRelatedProductsA(upgradeCode, 0, index, product);
        if (result == ERROR_NO_MORE_ITEMS) {
            return 0;
        }
        if (result != ERROR_SUCCESS) {
            printf("MsiEnumRelatedProducts failed: error %u\n", result);
            return static_cast<int>(result);
        }
        char version[64] = "";
        char name[256] = "";
        DWORD size = sizeof version;
        MsiGetProductInfoA(product, INSTALLPROPERTY_VERSIONSTRING, version, &size);
        size = sizeof name;
        MsiGetProductInfoA(product, INSTALLPROPERTY_INSTALLEDPRODUCTNAME, name, &size);
        printf("%s %s %s\n", product, version, name);
    }
}

static int Feature(const char* product, const char* feature) {
    INSTALLSTATE state = MsiQueryFeatureStateA(product, feature);
    if (state == INSTALLSTATE_LOCAL) {
        printf("local\n");
    } else if (state == INSTALLSTATE_ABSENT) {
        printf("absent\n");
    } else {
        printf("%d\n", static_cast<int>(state));
    }
    return state == INSTALLSTATE_UNKNOWN ? 1 : 0;
}

static int Account(const char* name, const char* account) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service =
        manager == nullptr ? nullptr : OpenServiceA(manager, name, SERVICE_CHANGE_CONFIG);
    BOOL changed =
        service != nullptr &&
        ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                             nullptr, nullptr, nullptr, nullptr, account, nullptr, nullptr);
    int result = changed ? 0 : static_cast<int>(GetLastError());
    if (!changed) {
        printf("ChangeServiceConfig failed: error %d\n", result);
    }
    if (service != nullptr) {
        CloseServiceHandle(service);
    }
    if (manager != nullptr) {
        CloseServiceHandle(manager);
    }
    return result;
}

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "related") == 0) {
        return Related(argv[2]);
    }
    if (argc == 4 && strcmp(argv[1], "feature") == 0) {
        return Feature(argv[2], argv[3]);
    }
    if (argc == 4 && strcmp(argv[1], "account") == 0) {
        return Account(argv[2], argv[3]);
    }
    fprintf(stderr,
            "usage: msiprobe related UPGRADE-CODE | feature PRODUCT FEATURE | account SERVICE "
            "ACCOUNT\n");
    return 1;
}
