// Hostile arguments for every method of the registered Core object, called
// late-bound (IDispatch) with the method list, parameter names and types read
// from its type library at run time, so methods added later are swept too.
// Every call must come back with S_OK or S_FALSE (no crash, no automation
// error) and at most one notice.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>
#include <cctype>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "RelayFixture.h"
#include "WineTestSupport.h"

using qmtest::RelayWindow;

namespace {

std::string Narrow(const wchar_t *text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i)
    out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
  return out;
}

struct Parameter {
  std::string name;
  VARTYPE type;
};

struct Method {
  std::string name;
  DISPID id;
  std::vector<Parameter> in; // the [in] parameters in order; the retval is not listed
};

// Methods whose text arguments reach other computers or start things: they
// are not fed hostile texts here (their handle arguments are still swept).
const std::set<std::string> kTextSweepSkipped = {
    "Run",                    // starts a script
    "CreateProcess",          // starts programs
    "CreateProcessAsUser",    //
    "ShellExecute",           //
    "NetCreateProcess",       // places jobs on a named computer
    "NetCreateProcessAsUser", //
    "NetScheduleJobAdd",      //
    "NetScheduleJobAddAsUser",//
    "NetScheduleJobDel",      // removes jobs of a named computer
    "NetScheduleJobGetInfo",  // asks a named computer
    "NetScheduleJobEnum",     //
    "FtpConnect",             // connects to a named host
};

// Methods that consume any live handle whatever its kind.
const std::set<std::string> kTakesAnyHandle = {"FreeHandle"};

class CoreSweepTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    s_library = LoadLibraryA((qmtest::ProgramDirectory() + "QuillmothLib.dll").c_str());
    ASSERT_TRUE(s_library);
    ASSERT_EQ(S_OK, qmtest::CallExport(s_library, "DllRegisterServer"));
  }
  static void TearDownTestSuite() {
    EXPECT_EQ(S_OK, qmtest::CallExport(s_library, "DllUnregisterServer"));
    FreeLibrary(s_library);
  }

  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED)));
    CLSID clsid;
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"QuillmothLib.Core", &clsid));
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                     reinterpret_cast<void **>(&core)));
    ReadMethods();
    ASSERT_GE(methods.size(), 40u) << "the type library lists the methods";
  }
  void TearDown() override {
    if (core)
      core->Release();
    CoUninitialize();
  }

  void ReadMethods() {
    ITypeInfo *info = nullptr;
    ASSERT_EQ(S_OK, core->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
    TYPEATTR *attributes = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attributes));
    for (UINT i = 0; i < attributes->cFuncs; ++i) {
      FUNCDESC *func = nullptr;
      if (info->GetFuncDesc(i, &func) != S_OK)
        continue;
      BSTR names[32] = {};
      UINT count = 0;
      info->GetNames(func->memid, names, 32, &count);
      if (func->memid > 0 && func->memid < 0x1000 && !(func->wFuncFlags & FUNCFLAG_FRESTRICTED)) {
        Method method;
        method.name = Narrow(names[0], SysStringLen(names[0]));
        method.id = func->memid;
        for (SHORT p = 0; p < func->cParams; ++p) {
          const ELEMDESC &element = func->lprgelemdescParam[p];
          if (element.paramdesc.wParamFlags & PARAMFLAG_FRETVAL)
            continue;
          std::string name = static_cast<UINT>(p + 1) < count ? Narrow(names[p + 1], SysStringLen(names[p + 1])) : "";
          method.in.push_back({name, element.tdesc.vt});
        }
        methods.push_back(method);
      }
      for (UINT n = 0; n < count; ++n)
        SysFreeString(names[n]);
      info->ReleaseFuncDesc(func);
    }
    info->ReleaseTypeAttr(attributes);
    info->Release();
  }

  // A harmless value for a parameter that is not the one being swept.
  static VARIANT Benign(VARTYPE type) {
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = type == VT_VARIANT ? static_cast<VARTYPE>(VT_EMPTY) : type;
    switch (type) {
    case VT_BSTR: V_BSTR(&value) = SysAllocString(L"qm"); break;
    case VT_I2: V_I2(&value) = 0; break;
    case VT_I4: V_I4(&value) = 0; break;
    case VT_BOOL: V_BOOL(&value) = VARIANT_FALSE; break;
    default: break;
    }
    return value;
  }

  // Calls the method with `value` as parameter `index` and benign values
  // elsewhere; the value is consumed. Answers the status and the result.
  HRESULT Call(const Method &method, size_t index, VARIANT value, VARIANT *result) {
    std::vector<VARIANT> args(method.in.size());
    for (size_t i = 0; i < method.in.size(); ++i)
      args[method.in.size() - 1 - i] = i == index ? value : Benign(method.in[i].type); // reversed order
    DISPPARAMS params = {args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    VariantInit(result);
    size_t before = relay.entries.size();
    HRESULT hr = core->Invoke(method.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                              nullptr, nullptr);
    for (VARIANT &arg : args)
      VariantClear(&arg);
    EXPECT_LE(relay.entries.size() - before, 1u) << method.name << ": one call, at most one notice";
    return hr;
  }

  // A live message handle, made by the object itself.
  long NewMessageHandle() {
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 77, 1, 2);
    const Method *get = Find("GetMessage");
    if (!get)
      return 0;
    VARIANT result;
    EXPECT_EQ(S_OK, Call(*get, 99, VARIANT(), &result));
    return V_VT(&result) == VT_I4 ? V_I4(&result) : 0;
  }

  void FreeHandle(long handle) {
    VARIANT value, result;
    VariantInit(&value);
    V_VT(&value) = VT_I4;
    V_I4(&value) = handle;
    Call(*Find("FreeHandle"), 0, value, &result);
    VariantClear(&result);
  }

  const Method *Find(const std::string &name) const {
    for (const Method &method : methods)
      if (method.name == name)
        return &method;
    return nullptr;
  }

  static bool IsFalseResult(const VARIANT &result) {
    switch (V_VT(&result)) {
    case VT_EMPTY: return true;
    case VT_I4: return V_I4(&result) == 0 || V_I4(&result) == -1;
    case VT_BOOL: return V_BOOL(&result) == VARIANT_FALSE;
    case VT_BSTR: return SysStringLen(V_BSTR(&result)) == 0;
    default: return false;
    }
  }

  static bool IsHandleParameter(const Parameter &p) {
    return p.type == VT_I4 && p.name.size() > 1 && p.name[0] == 'h' && isupper(static_cast<unsigned char>(p.name[1]));
  }

  static HMODULE s_library;
  RelayWindow relay;
  IDispatch *core = nullptr;
  std::vector<Method> methods;
};

HMODULE CoreSweepTest::s_library = NULL;

// 0, -1, a freed handle, a live handle of another kind, numbers that are no
// handle (random, and the address of a forged record): each method refuses
// them with its false result and touches nothing.
TEST_F(CoreSweepTest, HandleArgumentsThatAreNoLiveHandleOfTheirKindAreRefused) {
  long freed = NewMessageHandle();
  ASSERT_NE(0, freed);
  FreeHandle(freed);
  long live = NewMessageHandle();
  ASSERT_NE(0, live);

  // A record forged in this process's memory: right tag, bogus payload.
  struct Forged {
    int32_t tag;
    void *payload;
  };
  Forged *forged = static_cast<Forged *>(VirtualAlloc(NULL, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_TRUE(forged);
  forged->tag = 205;
  forged->payload = reinterpret_cast<void *>(static_cast<uintptr_t>(0xDEAD0000));
  long forgedHandle = static_cast<long>(reinterpret_cast<intptr_t>(forged));

  std::vector<long> refused = {0, -1, freed, 0x12345678, 0x7FFFFFFF, static_cast<long>(0x80000000u), 205, 4};
  if (reinterpret_cast<uintptr_t>(forged) <= 0x7FFFFFFFu)
    refused.push_back(forgedHandle); // a script can only name addresses below 2 GiB
  uint32_t seed = 20261209;
  for (int i = 0; i < 16; ++i) {
    seed = seed * 1664525u + 1013904223u;
    refused.push_back(static_cast<long>(seed));
  }

  int swept = 0;
  for (const Method &method : methods) {
    for (size_t p = 0; p < method.in.size(); ++p) {
      if (!IsHandleParameter(method.in[p]))
        continue;
      ++swept;
      std::vector<long> values = refused;
      // A live handle of another kind: every method here takes a kind other
      // than a message, except the message readers and FreeHandle.
      if (method.name.find("Message") == std::string::npos && !kTakesAnyHandle.count(method.name))
        values.push_back(live);
      for (long handle : values) {
        VARIANT value, result;
        VariantInit(&value);
        V_VT(&value) = VT_I4;
        V_I4(&value) = handle;
        HRESULT hr = Call(method, p, value, &result);
        // Late-bound, a method's S_FALSE reaches the caller as success; the
        // refusal shows in its result: 0, False or -1, an empty text, none.
        EXPECT_EQ(S_OK, hr) << method.name << "(" << method.in[p].name << " = " << handle << ")";
        EXPECT_TRUE(IsFalseResult(result)) << method.name << "(" << method.in[p].name << " = " << handle << ")";
        VariantClear(&result);
      }
    }
  }
  EXPECT_GE(swept, 10) << "the handle-taking methods were found by their parameter names";
  EXPECT_EQ(205, forged->tag) << "the forged record was not touched";
  VirtualFree(forged, 0, MEM_RELEASE);

  // The live handle still reads: nothing above freed or changed it.
  VARIANT value, result;
  VariantInit(&value);
  V_VT(&value) = VT_I4;
  V_I4(&value) = live;
  EXPECT_EQ(S_OK, Call(*Find("GetMessageId"), 0, value, &result));
  EXPECT_EQ(WM_USER + 77, V_I4(&result));
  FreeHandle(live);
  RevertToSelf();
}

// Texts of 0, 1, 1,023, 1,024 and 100,000 characters, with an embedded NUL,
// outside the ANSI code page, and null: cut or refused, never an overrun.
TEST_F(CoreSweepTest, TextArgumentsOfEveryLengthAreCutOrRefused) {
  std::vector<std::wstring> texts = {L"", L"a", std::wstring(1023, L'a'), std::wstring(1024, L'a'),
                                     std::wstring(100000, L'a'), std::wstring(L"ab\0cd", 5),
                                     std::wstring(1024, L'\x4E2D'), std::wstring(L"\xD800", 1)};
  int swept = 0;
  for (const Method &method : methods) {
    if (kTextSweepSkipped.count(method.name))
      continue;
    for (size_t p = 0; p < method.in.size(); ++p) {
      if (method.in[p].type != VT_BSTR)
        continue;
      ++swept;
      for (size_t t = 0; t <= texts.size(); ++t) {
        VARIANT value, result;
        VariantInit(&value);
        V_VT(&value) = VT_BSTR;
        V_BSTR(&value) = t < texts.size() ? SysAllocStringLen(texts[t].data(), static_cast<UINT>(texts[t].size()))
                                          : nullptr;
        HRESULT hr = Call(method, p, value, &result);
        EXPECT_TRUE(hr == S_OK || hr == S_FALSE)
            << method.name << "(" << method.in[p].name << ", text " << t << ") answered 0x" << std::hex << hr;
        VariantClear(&result);
      }
    }
  }
  EXPECT_GE(swept, 15);
  SetEnvironmentVariableA("qm", NULL);
  SetEnvironmentVariableA("a", NULL);

  // The documented cuts: a print line at 255 bytes, a stored value at 8,191.
  relay.entries.clear();
  VARIANT value, result;
  VariantInit(&value);
  V_VT(&value) = VT_BSTR;
  V_BSTR(&value) = SysAllocString(std::wstring(100000, L'p').c_str());
  EXPECT_EQ(S_OK, Call(*Find("Print"), 0, value, &result));
  ASSERT_EQ(1u, relay.Texts().size());
  EXPECT_EQ(std::string(255, 'p'), relay.Texts()[0]);

  const Method *set = Find("SetEnvironmentVariable");
  ASSERT_TRUE(set);
  std::vector<VARIANT> args(3);
  for (VARIANT &arg : args)
    VariantInit(&arg);
  V_VT(&args[2]) = VT_I4;
  V_I4(&args[2]) = 1;
  V_VT(&args[1]) = VT_BSTR;
  V_BSTR(&args[1]) = SysAllocString(L"QM.SWEEP");
  V_VT(&args[0]) = VT_BSTR;
  V_BSTR(&args[0]) = SysAllocString(std::wstring(100000, L'v').c_str());
  DISPPARAMS params = {args.data(), nullptr, 3, 0};
  VariantInit(&result);
  EXPECT_EQ(S_OK, core->Invoke(set->id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr,
                               nullptr));
  EXPECT_EQ(std::string(8191, 'v'), qmtest::EnvironmentValue("QM.SWEEP"));
  for (VARIANT &arg : args)
    VariantClear(&arg);
  SetEnvironmentVariableA("QM.SWEEP", NULL);
}

} // namespace
