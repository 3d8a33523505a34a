// pcre64.dll is loaded the way the hook library loads it: by path, with every
// entry point resolved by name.
#include <gtest/gtest.h>
#include <pcre.h>
#include <windows.h>

#include <clocale>
#include <cstring>
#include <string>

#include "tests/support/paths.h"

namespace {

struct PcreApi {
  HMODULE module = nullptr;
  decltype(&pcre_compile) compile = nullptr;
  decltype(&pcre_exec) exec = nullptr;
  decltype(&pcre_dfa_exec) dfa_exec = nullptr;
  decltype(&pcre_study) study = nullptr;
  decltype(&pcre_fullinfo) fullinfo = nullptr;
  decltype(&pcre_maketables) maketables = nullptr;
  int (*setlocale)(const char*) = nullptr;
  void (*free_ex)(void*) = nullptr;
};

template <typename F>
void Resolve(HMODULE m, const char* name, F& out) {
  out = reinterpret_cast<F>(GetProcAddress(m, name));
  ASSERT_NE(out, nullptr) << name;
}

class PcreDll : public ::testing::Test {
 protected:
  void SetUp() override {
    api.module = LoadLibraryW(vm::test::BinPath(L"pcre64.dll").c_str());
    ASSERT_NE(api.module, nullptr) << GetLastError();
    Resolve(api.module, "pcre_compile", api.compile);
    Resolve(api.module, "pcre_exec", api.exec);
    Resolve(api.module, "pcre_dfa_exec", api.dfa_exec);
    Resolve(api.module, "pcre_study", api.study);
    Resolve(api.module, "pcre_fullinfo", api.fullinfo);
    Resolve(api.module, "pcre_maketables", api.maketables);
    Resolve(api.module, "pcre_setlocale", api.setlocale);
    Resolve(api.module, "pcre_free_ex", api.free_ex);
  }
  void TearDown() override {
    if (api.module) FreeLibrary(api.module);
  }
  PcreApi api;
};

TEST_F(PcreDll, CompileStudyExecAndDfaExec) {
  ASSERT_EQ(api.setlocale("C"), 1);
  const unsigned char* tables = api.maketables();
  ASSERT_NE(tables, nullptr);
  const char* error = nullptr;
  int offset = 0;
  pcre* re = api.compile("Fol(ia)nt\\s+(\\d+)", 0, &error, &offset, tables);
  ASSERT_NE(re, nullptr) << error;
  pcre_extra* extra = api.study(re, 0, &error);
  EXPECT_EQ(error, nullptr);

  int captures = -1;
  ASSERT_EQ(api.fullinfo(re, extra, PCRE_INFO_CAPTURECOUNT, &captures), 0);
  EXPECT_EQ(captures, 2);

  const char subject[] = "Vellmark Foliant 42 window";
  int ov[30] = {};
  int rc = api.exec(re, extra, subject, static_cast<int>(std::strlen(subject)), 0, 0, ov, 30);
  ASSERT_EQ(rc, 3);
  EXPECT_EQ(std::string(subject + ov[4], ov[5] - ov[4]), "42");
  EXPECT_EQ(api.exec(re, extra, "nothing", 7, 0, 0, ov, 30), PCRE_ERROR_NOMATCH);

  int work[64] = {};
  rc = api.dfa_exec(re, extra, subject, static_cast<int>(std::strlen(subject)), 0, 0, ov, 30, work, 64);
  EXPECT_GE(rc, 1);
  EXPECT_EQ(ov[0], 9);

  api.free_ex(extra);
  api.free_ex(re);
  api.free_ex(const_cast<unsigned char*>(tables));
  api.free_ex(nullptr);  // harmless
}

TEST_F(PcreDll, BadPatternIsRefusedWithAnOffset) {
  const char* error = nullptr;
  int offset = -1;
  EXPECT_EQ(api.compile("(unbalanced", 0, &error, &offset, nullptr), nullptr);
  EXPECT_NE(error, nullptr);
  EXPECT_GE(offset, 0);
}

// The DLL shares the C runtime's locale with its host (explorer.exe among
// them): building tables must never leave that locale changed.
TEST_F(PcreDll, MakingTablesLeavesTheHostLocaleAlone) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  for (const char* name : {"C", "", "English_United States.1252", "no-such-locale"}) {
    ASSERT_EQ(api.setlocale(name), 1) << name;
    const unsigned char* tables = api.maketables();
    if (tables) api.free_ex(const_cast<unsigned char*>(tables));
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before) << name;
  }
  EXPECT_EQ(api.setlocale(nullptr), 0);
  EXPECT_EQ(api.setlocale(std::string(500, 'x').c_str()), 0);
}

// The "C" tables are exactly PCRE's built-in ones: a case-insensitive match
// of ASCII letters works, and the copy is the caller's to free.
TEST_F(PcreDll, CLocaleTablesMatchCaselessly) {
  ASSERT_EQ(api.setlocale("C"), 1);
  const unsigned char* tables = api.maketables();
  ASSERT_NE(tables, nullptr);
  const char* error = nullptr;
  int offset = 0;
  pcre* re = api.compile("explorer", PCRE_CASELESS, &error, &offset, tables);
  ASSERT_NE(re, nullptr);
  int ov[3] = {};
  EXPECT_EQ(api.exec(re, nullptr, "EXPLORER.EXE", 12, 0, 0, ov, 3), 1);
  api.free_ex(re);
  api.free_ex(const_cast<unsigned char*>(tables));
}

}  // namespace
