// SPDX-License-Identifier: Apache-2.0
// vortan-pack: makes an update package from a package description, optionally with one field
// deliberately broken, for tests, samples and fuzz seeds.
//
//   vortan-pack DESCRIPTION.json -o PACKAGE.dat [--break NAME]
//   vortan-pack --list-breaks
//
// Exit status: 0 written, 1 description or output failed, 2 usage error.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "package_builder/package_builder.h"
#include "package_builder/package_description.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Makes a VORTAN update package from a package description (JSON)."};
  std::string descriptionPath;
  std::string outputPath;
  std::string breakName;
  bool listBreaks = false;
  app.add_option("description", descriptionPath, "Package description (JSON)");
  app.add_option("-o,--output", outputPath, "Package file to write");
  app.add_option("--break", breakName,
                 "Break one field so the reader refuses the package (see --list-breaks)");
  app.add_flag("--list-breaks", listBreaks, "List the names --break takes");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }

  if (listBreaks) {
    for (const std::string& name : vortan::pack::BreakageNames()) std::cout << name << '\n';
    return 0;
  }
  if (descriptionPath.empty() || outputPath.empty()) {
    std::cerr << "vortan-pack: a description and -o PACKAGE are required\n";
    return kExitUsage;
  }
  vortan::pack::Breakage breakage;
  if (!breakName.empty() && !vortan::pack::ParseBreakage(breakName, breakage)) {
    std::cerr << "vortan-pack: unknown breakage \"" << breakName << "\" (see --list-breaks)\n";
    return kExitUsage;
  }

  vortan::pack::PackageContents contents;
  std::string error;
  std::vector<uint8_t> bytes;
  if (!vortan::pack::LoadPackageDescription(descriptionPath, contents, error) ||
      !vortan::pack::BuildPackage(contents, breakage, bytes, error)) {
    std::cerr << "vortan-pack: " << error << '\n';
    return kExitFailed;
  }
  if (!vortan::pack::WritePackageFile(outputPath, bytes)) {
    std::cerr << "vortan-pack: cannot write " << outputPath << '\n';
    return kExitFailed;
  }
  return 0;
}
