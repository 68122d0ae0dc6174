// The commands of mapiprofile. Each writes its result to out and a failure,
// one clear sentence, to err, and returns the exit status (0 done, 1 failed).
#pragma once

#include <ostream>
#include <string>

#include "dump.h"
#include "sample_store.h"

namespace mapi::tools {

struct CommandContext {
    std::string profilePath;  // the profile file the commands edit
    std::ostream& out;
    std::ostream& err;
};

int RunList(const CommandContext& ctx);
// kind: a provider name (maildir, mbox, eml, pst, embedded), or empty to
// choose by the path's extension.
int RunCreate(const CommandContext& ctx, const std::string& name, const std::string& path,
              const std::string& kind = {});
int RunAdd(const CommandContext& ctx, const std::string& name, const std::string& path);
int RunRemove(const CommandContext& ctx, const std::string& name);
int RunSample(const CommandContext& ctx, const std::string& name, const std::string& path,
              const SampleOptions& options);
// Logs on to the profile through MAPILogonEx, as every client does, and
// dumps the first store of that display name.
int RunDump(const CommandContext& ctx, const std::string& name, const DumpOptions& options);

}  // namespace mapi::tools
