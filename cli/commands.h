// The commands of vexmorchm-cli. Each returns the exit status; a
// failure that ends the whole command is thrown to the caller.
#pragma once

#include "cli/cli_args.h"

namespace vexmor::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

int RunList(const ListCommand& command);
int RunExtract(const ExtractCommand& command);
int RunSite(const SiteCommand& command);
int RunEpub(const EpubCommand& command);
int RunCat(const CatCommand& command);
int RunTest(const TestCommand& command);
int RunInfo(const InfoCommand& command);

}  // namespace vexmor::cli
