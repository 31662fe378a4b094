#include "pack/Cli.h"

#include <optional>

#include "pack/ContainerReport.h"
#include "pack/Packer.h"

namespace shipkit::pack {

namespace {

constexpr const char* kUsage =
    "usage: shipkit-pack build [--stub STUB.exe] --manifest MANIFEST.json --out OUT.exe\n"
    "                          [--allow-section-cut]\n"
    "       shipkit-pack inspect INSTALLER.exe\n";

int usage(std::ostream& err, const std::string& why) {
  err << "shipkit-pack: " << why << "\n" << kUsage;
  return 2;
}

int build(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  BuildOptions options;
  std::optional<std::string> manifest, outPath;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--allow-section-cut") {
      options.allowSectionCut = true;
      continue;
    }
    std::string name = a, value;
    if (auto eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = a.substr(0, eq), value = a.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return usage(err, "build: " + a + " needs a value");
    }
    if (name == "--stub") {
      options.stub = value;
    } else if (name == "--manifest") {
      manifest = value;
    } else if (name == "--out") {
      outPath = value;
    } else {
      return usage(err, "build: unknown option " + name);
    }
  }
  if (!manifest || !outPath) return usage(err, "build: --manifest and --out are required");
  options.manifest = *manifest;
  options.out = *outPath;
  BuildSummary summary;
  std::string error;
  if (!buildInstaller(options, summary, error)) {
    err << "shipkit-pack: " << error << "\n";
    return 2;
  }
  for (const std::string& warning : summary.warnings) err << "shipkit-pack: warning: " << warning << "\n";
  out << "wrote " << options.out.string() << " (" << summary.size << " bytes, container at "
      << summary.containerStart << ")\n";
  if (summary.defaultMessages) {
    out << "filled in " << summary.filledMessages << " default messages";
    if (summary.filledGerman) out << " and their German texts for \"de\"";
    out << "\n";
  }
  return 0;
}

}  // namespace

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return usage(err, "no command");
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    out << kUsage;
    return 0;
  }
  if (args[0] == "build") return build(args, out, err);
  if (args[0] == "inspect") {
    if (args.size() != 2) return usage(err, "inspect: give exactly one installer");
    std::string error;
    if (!inspectFile(args[1], out, error)) {
      out.flush();
      err << "shipkit-pack: inspect: " << error << "\n";
      return 1;
    }
    return 0;
  }
  return usage(err, "unknown command " + args[0]);
}

}  // namespace shipkit::pack
