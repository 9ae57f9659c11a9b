// The installer package in a prefix of its own, as an administrator uses it:
// msiexec installs, upgrades and removes it silently, and the installed
// program, its registration and its service are used for real.
//
//   PackageTest.exe <current.msi> <older.msi>   (Unix paths, seen through Z:)
//
// The cases run in order on one prefix: a plain installation and its
// removal, then the full installation of the older package, its upgrade and
// the removal, then an installation again over what removal left.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <msi.h>
#include <sddl.h>
#include <oleauto.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "WineTestSupport.h"

namespace {

std::string g_currentPackage, g_olderPackage;

const char kUpgradeCode[] = "{20B46843-00B1-44ED-90EF-5508FA9AEFA4}";
const char kClassKey[] = "CLSID\\{0C9CAF96-D5FC-456B-A150-A5AF3666DF30}";
const char kTypeLibKey[] = "TypeLib\\{5FC6C994-EFAB-4257-88DD-E023642501D4}";
const char kInterfaceKey[] = "Interface\\{638065EC-1781-4953-AB31-3FBD323ED7F7}";
const char kEventSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quillmoth";
const char kVariablesKey[] = "software\\Brenlow Software\\Quillmoth\\QM.ENVIRONMENT";
const GUID kLibraryId = {0x5FC6C994, 0xEFAB, 0x4257, {0x88, 0xDD, 0xE0, 0x23, 0x64, 0x25, 0x01, 0xD4}};
const DWORD kInstallerWait = 240000;
enum { IDC_OUTPUT = 1003 };

std::string WindowsPath(const std::string &unixPath) {
  std::string path = "Z:" + unixPath;
  for (char &c : path)
    if (c == '/')
      c = '\\';
  return path;
}

std::string InstallDirectory() {
  char folder[MAX_PATH] = "";
  SHGetFolderPathA(NULL, CSIDL_PROGRAM_FILES, NULL, SHGFP_TYPE_CURRENT, folder);
  return std::string(folder) + "\\Quillmoth\\";
}

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool KeyExists(HKEY root, const std::string &name) {
  HKEY key = NULL;
  if (RegOpenKeyExA(root, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// Runs a program to its end; its exit code, or -1 when it did not end.
long RunToEnd(const std::string &program, const std::string &arguments, std::string *output = nullptr,
              DWORD milliseconds = kInstallerWait) {
  qmtest::ChildProcess child;
  if (!child.Start(program, arguments, std::string(), output != nullptr))
    return -2;
  DWORD code = 0;
  bool ended = child.WaitExit(milliseconds, &code);
  if (output)
    *output = child.ReadOutput();
  return ended ? static_cast<long>(code) : -1;
}

std::string SystemProgram(const char *name) {
  char folder[MAX_PATH] = "";
  GetSystemDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\" + name;
}

// The log of the last msiexec run (its UTF-16 zeros dropped).
std::string g_msiexecLog;

// Runs msiexec with a verbose log; on failure the end of the log is printed.
// Stops the installed service and waits for its process to end. Windows'
// installer does this itself before it replaces or removes the files of a
// running service (ServiceControl Wait="yes"); Wine's msiexec sends the stop
// but goes on while the service's process still runs, so the files it holds
// stay behind, to be removed at a reboot.
void StopServiceAndWaitForItsEnd() {
  SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? OpenServiceA(manager, "Quillmoth", SERVICE_STOP | SERVICE_QUERY_STATUS) : NULL;
  SERVICE_STATUS_PROCESS status = {};
  DWORD needed = 0;
  if (service && QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&status),
                                      sizeof status, &needed) &&
      status.dwCurrentState != SERVICE_STOPPED) {
    HANDLE process = status.dwProcessId ? OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId) : NULL;
    SERVICE_STATUS stop = {};
    ControlService(service, SERVICE_CONTROL_STOP, &stop);
    if (process) {
      EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 60000)) << "the service's process ended after its stop";
      CloseHandle(process);
    }
  }
  if (service)
    CloseServiceHandle(service);
  if (manager)
    CloseServiceHandle(manager);
}

long Msiexec(const std::string &arguments) {
  if (qmtest::RunningUnderWine())
    StopServiceAndWaitForItsEnd();
  char folder[MAX_PATH] = "";
  GetTempPathA(MAX_PATH, folder);
  std::string log = std::string(folder) + "quillmoth-msiexec.log";
  DeleteFileA(log.c_str());
  long code = RunToEnd(SystemProgram("msiexec.exe"), arguments + " /l*v \"" + log + "\"");
  std::string &text = g_msiexecLog;
  text = qmtest::ReadTextFile(log);
  text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  if (code != 0) {
    size_t from = text.size() > 3000 ? text.size() - 3000 : 0;
    fprintf(stderr, "msiexec %s failed; the end of its log:\n%s\n", arguments.c_str(), text.substr(from).c_str());
  }
  return code;
}

// The installed products of the package's family.
std::vector<std::string> InstalledProducts() {
  std::vector<std::string> products;
  char code[39];
  for (DWORD i = 0; MsiEnumRelatedProductsA(kUpgradeCode, 0, i, code) == ERROR_SUCCESS; ++i)
    products.push_back(code);
  return products;
}

std::string ProductVersion(const std::string &product) {
  char version[64] = "";
  DWORD size = sizeof version;
  if (MsiGetProductInfoA(product.c_str(), INSTALLPROPERTY_VERSIONSTRING, version, &size) != ERROR_SUCCESS)
    return std::string();
  return version;
}

struct ServiceView {
  bool installed = false;
  DWORD type = 0, start = 0, state = 0;
  std::string binary, account;
};

ServiceView QueryService() {
  ServiceView view;
  SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
  if (!manager)
    return view;
  SC_HANDLE service = OpenServiceA(manager, "Quillmoth", SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
  if (service) {
    view.installed = true;
    DWORD needed = 0;
    QueryServiceConfigA(service, NULL, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : 1);
    auto config = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer.data());
    if (needed && QueryServiceConfigA(service, config, needed, &needed)) {
      view.type = config->dwServiceType;
      view.start = config->dwStartType;
      view.binary = config->lpBinaryPathName ? config->lpBinaryPathName : "";
      view.account = config->lpServiceStartName ? config->lpServiceStartName : "";
    }
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service, &status))
      view.state = status.dwCurrentState;
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return view;
}

// A script run by cscript, as an administrator would test the registration.
std::string RunCscript(const std::string &script) {
  qmtest::TempDirectory dir("msi-cscript");
  std::string file = dir / "probe.vbs";
  if (!qmtest::WriteTextFile(file, script))
    return "cannot write the script";
  std::string output;
  long code = RunToEnd(SystemProgram("cscript.exe"), "//nologo \"" + file + "\"", &output, 60000);
  if (code != 0)
    output += "(exit code " + std::to_string(code) + ")";
  return output;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '\0'))
    text.pop_back();
  return text;
}

const char *const kBinaries[] = {"Quillmoth.exe", "QuillmothRun.dll", "QuillmothLib.dll"};
const char *const kRegistrationKeys[] = {"QuillmothLib.Core", "QuillmothLib.Core.1", kClassKey, kTypeLibKey,
                                         kInterfaceKey};

void ExpectRemoved() {
  std::string dir = InstallDirectory();
  for (const char *binary : kBinaries)
    EXPECT_FALSE(Exists(dir + binary)) << binary;
  EXPECT_FALSE(Exists(dir + "Scripts\\StdLib.vbs"));
  EXPECT_FALSE(Exists(dir + "Guide\\index.html")) << "the guide is ours";
  EXPECT_FALSE(Exists(dir + "Sample Scripts\\WeekdayRun.vbs"));
  for (const char *key : kRegistrationKeys)
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
  EXPECT_FALSE(QueryService().installed);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEventSourceKey));
  EXPECT_TRUE(InstalledProducts().empty());
}

// A folder's access list: whether it is protected from its parent's, and its
// entries as "SID mask flags" (allowed entries; any other kind is named so).
struct FolderAccess {
  bool read = false;
  bool isProtected = false;
  std::vector<std::string> entries;
};

FolderAccess ReadFolderAccess(const std::string &path) {
  FolderAccess access;
  PSECURITY_DESCRIPTOR descriptor = NULL;
  PACL list = NULL;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL, &list, NULL,
                            &descriptor) != ERROR_SUCCESS)
    return access;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  access.read = list != NULL && GetSecurityDescriptorControl(descriptor, &control, &revision);
  access.isProtected = (control & SE_DACL_PROTECTED) != 0;
  for (DWORD i = 0; access.read && i < list->AceCount; ++i) {
    ACE_HEADER *header = NULL;
    if (!GetAce(list, i, reinterpret_cast<void **>(&header)))
      continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      access.entries.push_back("entry of type " + std::to_string(header->AceType));
      continue;
    }
    ACCESS_ALLOWED_ACE *entry = reinterpret_cast<ACCESS_ALLOWED_ACE *>(header);
    char *sid = NULL;
    char text[64];
    if (ConvertSidToStringSidA(&entry->SidStart, &sid)) {
      snprintf(text, sizeof text, " %08lx %02x", entry->Mask, header->AceFlags);
      access.entries.push_back(sid + std::string(text));
      LocalFree(sid);
    }
  }
  LocalFree(descriptor);
  std::sort(access.entries.begin(), access.entries.end());
  return access;
}

std::string Joined(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &line : lines)
    text += line + "; ";
  return text;
}

const char kVBScriptWarning[] = "VBScript is not installed on this computer.";

TEST(Package, PlainInstallationHasNoServiceAndIsRemovedWhole) {
  ASSERT_TRUE(InstalledProducts().empty()) << "a fresh prefix";
  {
    // A computer without the VBScript feature: the package warns and
    // installs all the same.
    qmtest::HiddenProgId vbscript("VBScript");
    ASSERT_TRUE(vbscript.WasRegistered());
    ASSERT_EQ(0, Msiexec("/i \"" + WindowsPath(g_currentPackage) + "\" /qn"));
    EXPECT_NE(std::string::npos, g_msiexecLog.find(kVBScriptWarning)) << "no warning in the installer's log";
  }
  std::vector<std::string> products = InstalledProducts();
  ASSERT_EQ(1u, products.size());
  std::string dir = InstallDirectory();
  for (const char *binary : kBinaries)
    EXPECT_TRUE(Exists(dir + binary)) << dir + binary;
  EXPECT_TRUE(Exists(dir + "Guide\\index.html")) << "the user's guide, where the Help button looks";
  EXPECT_TRUE(Exists(dir + "Sample Scripts\\WeekdayRun.vbs"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_FALSE(QueryService().installed) << "the service is chosen with SERVICE=1";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEventSourceKey));

  ASSERT_EQ(0, Msiexec("/x " + products[0] + " /qn"));
  ExpectRemoved();
  // The starters are the user's once installed: removal leaves them.
  EXPECT_TRUE(Exists(dir + "Scripts\\AutoRun.vbs"));
  qmtest::RemoveTree(dir);
}

TEST(Package, FullInstallationRegistersRunsAndStartsTheService) {
  ASSERT_EQ(0, Msiexec("/i \"" + WindowsPath(g_olderPackage) + "\" /qn SERVICE=1"));
  EXPECT_EQ(std::string::npos, g_msiexecLog.find(kVBScriptWarning)) << "a warning though VBScript is there";
  EXPECT_NE(std::string::npos, g_msiexecLog.find("Quillmoth: VBScript engine found: ")) << "the check did not run";
  std::vector<std::string> products = InstalledProducts();
  ASSERT_EQ(1u, products.size());
  EXPECT_EQ("0.9.0", ProductVersion(products[0]));

  std::string dir = InstallDirectory();
  for (const char *binary : kBinaries)
    EXPECT_TRUE(Exists(dir + binary)) << dir + binary;
  for (const char *script : {"StdLib.vbs", "StdLib.js", "AutoRun.vbs", "AutoRun.js"})
    EXPECT_TRUE(Exists(dir + "Scripts\\" + script)) << script;

  // The registration, as self-registration writes it.
  std::string library = dir + "QuillmothLib.dll";
  EXPECT_EQ(library, qmtest::ReadRegistryText(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32", ""));
  EXPECT_EQ("Apartment",
            qmtest::ReadRegistryText(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32", "ThreadingModel"));
  EXPECT_EQ("QuillmothLib.Core.1", qmtest::ReadRegistryText(HKEY_CLASSES_ROOT, "QuillmothLib.Core\\CurVer", ""));
  ITypeLib *typeLibrary = nullptr;
  EXPECT_EQ(S_OK, LoadRegTypeLib(kLibraryId, 1, 0, 0, &typeLibrary)) << "the type library is found by its id";
  if (typeLibrary) {
    const GUID coreInterface = {0x638065EC, 0x1781, 0x4953, {0xAB, 0x31, 0x3F, 0xBD, 0x32, 0x3E, 0xD7, 0xF7}};
    ITypeInfo *info = nullptr;
    EXPECT_EQ(S_OK, typeLibrary->GetTypeInfoOfGuid(coreInterface, &info)) << "ICore is in it";
    if (info)
      info->Release();
    typeLibrary->Release();
  }

  // The service, as "Quillmoth.exe -install" makes it, started.
  ServiceView service = QueryService();
  ASSERT_TRUE(service.installed);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS), service.type);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), service.start);
  EXPECT_NE(std::string::npos, service.binary.find(dir + "Quillmoth.exe")) << service.binary;
  EXPECT_EQ("LocalSystem", service.account);
  EXPECT_TRUE(qmtest::WaitUntil([] { return QueryService().state == SERVICE_RUNNING; }, 60000))
      << "state " << QueryService().state;
  DWORD type = 0;
  EXPECT_EQ(dir + "Quillmoth.exe", qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, kEventSourceKey, "EventMessageFile",
                                                            nullptr, &type));
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);

  // The recovery actions of -install, from the package.
  {
    qmtest::ServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    qmtest::ServiceHandle installed(OpenServiceA(manager, "Quillmoth", SERVICE_QUERY_CONFIG));
    ASSERT_TRUE(installed);
    const DWORD kRestart = SC_ACTION_RESTART;
    const std::vector<DWORD> expected = {86400, kRestart, 60000, kRestart, 60000, kRestart, 300000};
    std::vector<DWORD> kept;
    DWORD error = 0;
    bool answered = qmtest::ReadRecoveryActions(installed, &kept, &error);
    bool stored = false;
    std::vector<DWORD> inKey = qmtest::ReadStoredRecoveryActions("Quillmoth", &stored);
    EXPECT_TRUE((answered && kept == expected) ||
                qmtest::WineDiffers(!answered && error == ERROR_INVALID_LEVEL,
                                    "Wine 8's control manager answers QueryServiceConfig2 for failure actions "
                                    "with ERROR_INVALID_LEVEL (124); Windows answers them"))
        << "answered " << answered << " error " << error << " values " << kept.size();
    EXPECT_TRUE(answered || (stored && inKey == expected) ||
                qmtest::WineDiffers(!stored,
                                    "Wine 8's installer and control manager keep no failure actions (no "
                                    "FailureActions value in the service's key); Windows Installer 5 applies the "
                                    "package's MsiServiceConfigFailureActions row and Windows keeps it"))
        << "stored in the key: " << stored << " (" << inKey.size() << " values)";
  }

  // The installation folder's own permissions: SYSTEM and Administrators
  // full, Users read and run, for the folder and what it holds, nothing
  // inherited from the parent.
  {
    FolderAccess access = ReadFolderAccess(dir);
    const std::vector<std::string> expected = {"S-1-5-18 001f01ff 03", "S-1-5-32-544 001f01ff 03",
                                               "S-1-5-32-545 001200a9 03"};
    EXPECT_TRUE((access.read && access.isProtected && access.entries == expected) ||
                qmtest::WineDiffers(access.read && !access.isProtected,
                                    "Wine 8's installer applies no MsiLockPermissionsEx row: the folder keeps the "
                                    "unprotected list Wine gives new folders (Everyone read and run, SYSTEM and the "
                                    "user full); Windows Installer 5 sets the row's list when CreateFolders makes "
                                    "the folder"))
        << "read " << access.read << " protected " << access.isProtected << ": " << Joined(access.entries);
  }

  // A script of the administrator's creates the object through the
  // registration; enciphered variables work without any set-up.
  EXPECT_EQ("kept|pw", Trimmed(RunCscript("Set core = CreateObject(\"QuillmothLib.Core\")\r\n"
                                          "core.SetEnvironmentVariable 2, \"QM.MSI_PROBE\", \"kept\"\r\n"
                                          "core.SetEnvironmentVariable 9, \"QM.MSI_SECRET\", \"pw\"\r\n"
                                          "WScript.Echo core.GetEnvironmentVariable(1, \"QM.MSI_PROBE\") & \"|\" & "
                                          "core.GetEnvironmentVariable(9, \"QM.MSI_SECRET\")\r\n")));

  // The service runs the starter AutoRun.vbs; the Start menu's entry
  // (-application) beside it opens the monitor, which shows its lines.
  qmtest::ChildProcess program;
  ASSERT_TRUE(program.Start(dir + "Quillmoth.exe", "-application", dir));
  HWND monitor = qmtest::WaitForWindow(program.Id(), "#32770", "Quillmoth service monitor", 30000);
  ASSERT_TRUE(monitor);
  EXPECT_TRUE(qmtest::WaitUntil([&] {
    return qmtest::ControlText(monitor, IDC_OUTPUT).find("Quillmoth started at ") != std::string::npos;
  })) << qmtest::ControlText(monitor, IDC_OUTPUT);
  PostMessageA(monitor, WM_CLOSE, 0, 0);
  DWORD code = 1;
  EXPECT_TRUE(program.WaitExit(30000, &code));
}

// --- An enciphered stored value: written under the older package, read
// again after the upgrade, and left by removal (with the pass phrase) for a
// later installation, as the guide promises the administrator.

const char kSecretName[] = "QM.MSI_STORED_SECRET";
const char kSecretText[] = "night & day <pw> 42";
const char kPassPhraseKey[] = "software\\Brenlow Software\\Quillmoth\\Security";
std::string g_secretCipher; // as the older program stored it

// The secret as a script reads it: stored, enciphered (2 + 8).
std::string ReadSecret() {
  return Trimmed(RunCscript(std::string("WScript.Echo CreateObject(\"QuillmothLib.Core\")"
                                        ".GetEnvironmentVariable(10, \"") +
                            kSecretName + "\")\r\n"));
}

TEST(Package, TheOlderProgramStoresAnEncipheredValue) {
  ASSERT_EQ("-1", Trimmed(RunCscript(std::string("WScript.Echo CreateObject(\"QuillmothLib.Core\")"
                                                 ".SetEnvironmentVariable(10, \"") +
                                     kSecretName + "\", \"" + kSecretText + "\")\r\n")));
  bool found = false;
  g_secretCipher = qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, kVariablesKey, kSecretName, &found);
  ASSERT_TRUE(found);
  EXPECT_EQ(std::string::npos, g_secretCipher.find_first_not_of("0123456789ABCDEF"))
      << "enciphered: " << g_secretCipher;
  EXPECT_EQ(kSecretText, ReadSecret());
}

TEST(Package, UpgradeKeepsTheUsersScripts) {
  std::string dir = InstallDirectory();
  const std::string changed = "' the administrator's own jobs\r\nFunction main(x)\r\nmain = \"mine\"\r\nEnd Function\r\n";
  ASSERT_TRUE(qmtest::WriteTextFile(dir + "Scripts\\AutoRun.vbs", changed));
  ASSERT_TRUE(qmtest::WriteTextFile(dir + "Scripts\\Nightly.vbs", "' added by the user\r\n"));
  ASSERT_TRUE(qmtest::WriteTextFile(dir + "Scripts\\StdLib.vbs", "' damaged\r\n"));

  long code = Msiexec("/i \"" + WindowsPath(g_currentPackage) + "\" /qn");
  ASSERT_EQ(0, code);
  std::vector<std::string> products = InstalledProducts();
  ASSERT_EQ(1u, products.size()) << "the newer package replaced the older one";
  EXPECT_NE("0.9.0", ProductVersion(products[0]));
  EXPECT_EQ(changed, qmtest::ReadTextFile(dir + "Scripts\\AutoRun.vbs"));
  EXPECT_EQ("' added by the user\r\n", qmtest::ReadTextFile(dir + "Scripts\\Nightly.vbs"));
  EXPECT_NE("' damaged\r\n", qmtest::ReadTextFile(dir + "Scripts\\StdLib.vbs")) << "our own library is renewed";
  EXPECT_TRUE(QueryService().installed) << "the chosen features are kept";
  EXPECT_TRUE(qmtest::WaitUntil([] { return QueryService().state == SERVICE_RUNNING; }, 60000))
      << "the new package started the service again: state " << QueryService().state;
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_EQ("kept", Trimmed(RunCscript("WScript.Echo CreateObject(\"QuillmothLib.Core\")"
                                       ".GetEnvironmentVariable(6, \"QM.MSI_PROBE\")\r\n")));
}

TEST(Package, UpgradeKeepsEncipheredValuesReadable) {
  ASSERT_FALSE(g_secretCipher.empty()) << "stored under the older package";
  EXPECT_EQ(g_secretCipher, qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, kVariablesKey, kSecretName));
  EXPECT_EQ(kSecretText, ReadSecret()) << "deciphered by the new program";
}

TEST(Package, RemovalTakesTheProgramAndLeavesTheUsersData) {
  std::vector<std::string> products = InstalledProducts();
  ASSERT_EQ(1u, products.size());
  ASSERT_EQ(0, Msiexec("/x " + products[0] + " /qn"));
  ExpectRemoved();
  std::string dir = InstallDirectory();
  EXPECT_TRUE(Exists(dir + "Scripts\\AutoRun.vbs"));
  EXPECT_TRUE(Exists(dir + "Scripts\\Nightly.vbs"));
  bool found = false;
  EXPECT_EQ("kept", qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, kVariablesKey, "QM.MSI_PROBE", &found));
  EXPECT_TRUE(found) << "stored variables stay";
}

TEST(Package, RemovalLeavesEncipheredValuesForTheNextInstallation) {
  ASSERT_FALSE(g_secretCipher.empty()) << "stored under the older package";
  ASSERT_TRUE(InstalledProducts().empty()) << "removed";
  EXPECT_EQ(g_secretCipher, qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, kVariablesKey, kSecretName));
  bool found = false;
  EXPECT_FALSE(qmtest::ReadRegistryText(HKEY_LOCAL_MACHINE, kPassPhraseKey, "PassPhrase", &found).empty());
  EXPECT_TRUE(found) << "the pass phrase stays";
  ASSERT_EQ(0, Msiexec("/i \"" + WindowsPath(g_currentPackage) + "\" /qn"));
  EXPECT_EQ(kSecretText, ReadSecret()) << "installed again, the program reads it";
  std::vector<std::string> products = InstalledProducts();
  ASSERT_EQ(1u, products.size());
  ASSERT_EQ(0, Msiexec("/x " + products[0] + " /qn"));
  ExpectRemoved();
}

} // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 3) {
    fprintf(stderr, "usage: PackageTest <current.msi> <older.msi>\n");
    return 2;
  }
  g_currentPackage = argv[1];
  g_olderPackage = argv[2];
  return RUN_ALL_TESTS();
}
