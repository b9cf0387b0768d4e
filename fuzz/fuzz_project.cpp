// Fuzz target: the fuzzer's bytes as a MapGIS project file beside two small layers, and the same
// bytes as a colour library. The project is loaded, listed, saved back and converted into its
// layer index; the colour library is loaded and looked up; `info` describes both.

#include <cstdint>
#include <string>

#include "engine/conversion_frame.h"
#include "engine/project_index.h"
#include "fuzz_common.h"
#include "settings/settings.h"
#include "shell/info_project.h"
#include "styles/colour_models.h"
#include "vordex/colour_library.h"
#include "vordex/project_file.h"

namespace {

using namespace MapGis;

void Project(const std::filesystem::path& path) {
  MapGis_Prj prj;
  const std::int32_t count = prj.LoadProject(path);
  if (count >= 0) {
    char text[260];
    (void)prj.GetMpjDesc(text);
    MAP_PARAstruct para;
    (void)prj.GetProjectionInfo(&para);
    for (int i = 0; i < prj.GetItemCount() && i < 4096; ++i) {
      char name[260];
      double lo = 0, hi = 0;
      (void)prj.GetItemInfo(i, name, &lo, &hi);
      (void)prj.GetItemDesc(i, text);
    }
    (void)prj.SaveProject(path);
  }
  for (int exportProjection : {0, 1}) {
    Kvx::FrameSettings settings;
    settings.exportProjection = exportProjection;
    settings.codePage = exportProjection;
    (void)Kvx::ConvertMPJ2SHP(path, KvxFuzz::Scratch() / "index", Kvx::SilentNotifier(), settings);
  }
  std::string error;
  (void)Kvx::DescribeProject(path, &error).dump();
}

void ColourLibrary(const std::filesystem::path& folder) {
  MapGis_ColorLib lib;
  if (lib.LoadColors(folder / "Pcolor.lib") >= 0) {
    (void)lib.GetColorNum();
    (void)lib.GetInkNum();
  }
  Kvx::StyleContext styles;
  Kvx::Settings settings;
  settings.LibPath = folder.string();
  settings.SymbolType = 4;
  if (styles.ConvertLoadRules(settings, Kvx::SilentNotifier()) == Kvx::LoadRulesResult::Ready) {
    for (std::int32_t n = -1; n <= styles.ColourCount() + 1 && n < 4096; ++n) {
      (void)styles.PackedRGB(n);
      (void)styles.PackedCMYK(n);
      for (int model = 0; model < 3; ++model) (void)styles.GetColorValue(n, model);
    }
  }
  std::string error;
  (void)Kvx::DescribeColourLibrary(folder, &error).dump();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path dir = KvxFuzz::Scratch();
  // The demo layers, so that project items can name layers that exist.
  std::error_code ec;
  for (const char* name : {"roads.wl", "geology.wp"})
    std::filesystem::copy_file(std::filesystem::path(KVX_FUZZ_LIBRARY) / name, dir / name,
                               std::filesystem::copy_options::overwrite_existing, ec);
  const std::filesystem::path project = dir / "in.mpj";
  if (KvxFuzz::WriteInput(project, data, size)) Project(project);
  const std::filesystem::path lib = dir / "lib";
  std::filesystem::create_directories(lib, ec);
  if (KvxFuzz::WriteInput(lib / "Pcolor.lib", data, size)) ColourLibrary(lib);
  KvxFuzz::ClearScratch();
  return 0;
}
