// verinfo: prints the version resource of a file as Windows reads it (version.dll's
// GetFileVersionInfoA and VerQueryValueA), one key=value line each, for the tests.
//
//   verinfo FILE
//
// Lines: file_version, product_version (four numbers), file_type (app, dll or the
// number), file_flags (hex), translation, then each string of the translation's table.
// Exit code: 0, 1 when the file has no readable version resource, 2 on misuse.
#include <windows.h>
#include <stdio.h>

#include <vector>

// The strings the tests look at.
static const char* const kStringNames[] = {"CompanyName",    "FileDescription",  "FileVersion",
                                           "InternalName",   "OriginalFilename", "ProductName",
                                           "ProductVersion", "Commit",           "PrivateBuild"};

static void PrintVersion(const char* key, DWORD high, DWORD low) {
    printf("%s=%u.%u.%u.%u\n", key, static_cast<unsigned>(HIWORD(high)),
           static_cast<unsigned>(LOWORD(high)), static_cast<unsigned>(HIWORD(low)),
           static_cast<unsigned>(LOWORD(low)));
}

static int PrintVersionInfo(const char* file) {
    DWORD ignored = 0;
    DWORD bytes = GetFileVersionInfoSizeA(file, &ignored);
    if (bytes == 0) {
        printf("no version resource: error %lu\n", GetLastError());
        return 1;
    }
    std::vector<char> data(bytes);
    if (!GetFileVersionInfoA(file, 0, bytes, data.data())) {
        printf("version resource unreadable: error %lu\n", GetLastError());
        return 1;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
        length < sizeof *fixed || fixed->dwSignature != VS_FFI_SIGNATURE) {
        puts("no fixed file information");
        return 1;
    }
    PrintVersion("file_version", fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    PrintVersion("product_version", fixed->dwProductVersionMS, fixed->dwProductVersionLS);
    if (fixed->dwFileType == VFT_APP) {
        puts("file_type=app");
    } else if (fixed->dwFileType == VFT_DLL) {
        puts("file_type=dll");
    } else {
        printf("file_type=%lu\n", fixed->dwFileType);
    }
    printf("file_flags=0x%08lX\n", fixed->dwFileFlags & fixed->dwFileFlagsMask);

    // The string table that Explorer shows: the first language and code page listed.
    WORD* translation = nullptr;
    if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < 2 * sizeof(WORD)) {
        puts("no translation");
        return 1;
    }
    printf("translation=%04x%04x\n", translation[0], translation[1]);
    for (const char* name : kStringNames) {
        char query[96];
        snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", translation[0],
                 translation[1], name);
        char* text = nullptr;
        if (VerQueryValueA(data.data(), query, reinterpret_cast<void**>(&text), &length) &&
            text != nullptr) {
            printf("%s=%s\n", name, text);
        }
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("usage: verinfo FILE\n", stderr);
        return 2;
    }
    return PrintVersionInfo(argv[1]);
}
