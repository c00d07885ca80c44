// The program's own settings key, shared by the host and the bridge, and the one way the
// host reads a number from it. Each value is read once at start, before any other thread
// exists, so the figures read need no lock.
#pragma once

// Under HKEY_LOCAL_MACHINE; the 32-bit build reads the 32-bit view (WOW6432Node on a
// 64-bit Windows), as every 32-bit program does by default.
static const char kSettingsKey[] = "Software\\Quenlor\\Tessaly";

// The service's name: dispatch table, handler registration, the standalone window's
// class and title, and the service SID (NT SERVICE\<name>) that the trust check trusts.
static const char kServiceName[] = "Quenlor Tessaly";

// The REG_DWORD `name` of the settings key into *value. False, *value unchanged, when the
// key or the value is missing or the value is not a REG_DWORD.
bool ReadSettingDword(const char* name, unsigned long* value);
