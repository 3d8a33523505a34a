#include "hooklib/framework/extender_rules.h"

#include "hooklib/framework/param_text.h"
#include "hooklib/framework/text_case.h"

namespace vm::framework {
namespace {

constexpr std::wstring_view kNoninvasiveClasses =
    L";Flash9;Flash10;Flash11;Flash11.5;indesign;_macr_dreamweaver_frame_window_;DeviceCentral;"
    L"illustrator;SnagIt5UI;SurfcamClass;Premiere Pro;EmEditorMainFrame3;";
constexpr std::wstring_view kPtcFolders[] = {L"\\ptc\\",     L"\\creo",    L"\\windchill",
                                             L"\\arbortext", L"\\mathcad", L"\\integrity"};

bool Contains(std::wstring_view text, std::wstring_view part) {
  return text.find(part) != std::wstring_view::npos;
}

std::wstring FileNameLower(std::wstring_view path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

}  // namespace

bool IsWrapperClassName(std::wstring_view name) {
  return name.size() > 50 && name.substr(0, 12) == L"HwndWrapper[" && name.back() == L']';
}

std::wstring TrimWrapperClassName(std::wstring_view name) {
  if (!IsWrapperClassName(name)) return std::wstring(name);
  // Longer than 50, so 37 characters (36 and the "]") are always there.
  std::wstring out(name.substr(0, name.size() - 37));
  out.push_back(L']');
  return out;
}

bool StaysNoninvasive(const SubclassFacts& facts) {
  if (!facts.class_name.empty() && Contains(kNoninvasiveClasses, L";" + facts.class_name + L";")) {
    return true;
  }
  if (Contains(facts.class_name, L"HwndWrapper[Jing.exe;;] - WindowsForms10")) return true;
  if (Contains(facts.host_path_lower, L"\\winbox.exe")) return true;
  if (facts.class_name == L"Dialog") {
    for (std::wstring_view folder : kPtcFolders) {
      if (Contains(facts.host_path_lower, folder)) return true;
    }
  }
  return facts.smart_maximize_loaded;
}

PartText SplitPartText(std::wstring_view value) {
  const auto split = SplitClassText<wchar_t>(value);
  PartText part{std::wstring(split.class_name), std::wstring(split.params), {}};
  bool found = false;
  ForEachParam<wchar_t>(split.params, [&](const ParamEntry& entry) {
    if (!found && EqualsIgnoreCase(entry.name, L"name")) {
      part.name.assign(entry.value);
      found = true;
    }
  });
  return part;
}

AliveStep NextAliveStep(AliveState& state, bool intact) noexcept {
  if (intact) {
    ++state.answered;
    return state.answered >= kAliveChecksBeforeRest ? AliveStep::StopChecking
                                                    : AliveStep::KeepChecking;
  }
  if (state.rehooks < kMaxRehooks) {
    ++state.rehooks;
    state.answered = 0;
    return AliveStep::Rehook;
  }
  return AliveStep::GiveUp;
}

int TimerIdSeed(std::wstring_view host_path_lower) {
  if (FileNameLower(host_path_lower) == L"winproj.exe") return 100;
  return Contains(host_path_lower, L"\\maxqda") ? 100 : 0;
}

}  // namespace vm::framework
