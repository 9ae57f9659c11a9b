// The assembled user's guide against the built library: every method of the
// type library embedded in QuillmothLib.dll has its entry in the reference
// page, with every parameter the script passes.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "WineTestSupport.h"

namespace {

std::string Narrow(BSTR text) {
  std::string out;
  for (UINT i = 0; text && i < SysStringLen(text); ++i)
    out += static_cast<char>(text[i]);
  return out;
}

struct Method {
  std::string name;
  std::vector<std::string> parameters; // without the result
};

// The ICore methods as the library's own type library lists them.
std::vector<Method> TypeLibraryMethods(const std::string &library) {
  std::vector<Method> methods;
  std::wstring path(library.begin(), library.end());
  ITypeLib *typeLib = nullptr;
  if (LoadTypeLibEx(path.c_str(), REGKIND_NONE, &typeLib) != S_OK)
    return methods;
  IID iid;
  IIDFromString(L"{638065EC-1781-4953-AB31-3FBD323ED7F7}", &iid);
  ITypeInfo *dispatchInfo = nullptr, *info = nullptr;
  HREFTYPE href = 0;
  if (typeLib->GetTypeInfoOfGuid(iid, &dispatchInfo) == S_OK &&
      dispatchInfo->GetRefTypeOfImplType(-1, &href) == S_OK && dispatchInfo->GetRefTypeInfo(href, &info) == S_OK) {
    TYPEATTR *attributes = nullptr;
    if (info->GetTypeAttr(&attributes) == S_OK) {
      for (UINT i = 0; i < attributes->cFuncs; ++i) {
        FUNCDESC *func = nullptr;
        if (info->GetFuncDesc(i, &func) != S_OK)
          continue;
        BSTR names[32] = {};
        UINT count = 0;
        info->GetNames(func->memid, names, 32, &count);
        Method method;
        method.name = Narrow(names[0]);
        for (SHORT p = 0; p < func->cParams && static_cast<UINT>(p + 1) < count; ++p)
          if (!(func->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FRETVAL))
            method.parameters.push_back(Narrow(names[p + 1]));
        for (UINT n = 0; n < count; ++n)
          SysFreeString(names[n]);
        info->ReleaseFuncDesc(func);
        methods.push_back(method);
      }
      info->ReleaseTypeAttr(attributes);
    }
  }
  if (info)
    info->Release();
  if (dispatchInfo)
    dispatchInfo->Release();
  typeLib->Release();
  return methods;
}

TEST(Guide, EveryMethodOfTheTypeLibraryHasItsEntryWithItsParameters) {
  std::string dir = qmtest::ProgramDirectory();
  std::vector<Method> methods = TypeLibraryMethods(dir + "QuillmothLib.dll");
  ASSERT_FALSE(methods.empty()) << "the type library of " << dir << "QuillmothLib.dll";
  std::string page = qmtest::ReadTextFile(dir + "Guide\\reference.html");
  ASSERT_FALSE(page.empty()) << "the assembled guide in " << dir << "Guide";

  for (const Method &method : methods) {
    size_t entry = page.find("id=\"" + method.name + "\"");
    ASSERT_NE(std::string::npos, entry) << "no entry for " << method.name;
    size_t end = page.find("</section>", entry);
    ASSERT_NE(std::string::npos, end) << method.name;
    std::string section = page.substr(entry, end - entry);
    for (const std::string &parameter : method.parameters)
      EXPECT_NE(std::string::npos, section.find("<td><code>" + parameter + "</code></td>"))
          << method.name << " does not describe its parameter " << parameter;
    EXPECT_NE(std::string::npos, section.find("<pre class=\"example\">")) << method.name << " has no example";
  }
}

} // namespace
