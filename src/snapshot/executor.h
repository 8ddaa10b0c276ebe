// zoltsh::Executor applies a batch of editing commands (command.h) to a loaded spreadsheet and
// collects the login uids of the users who made them.
//
// A failing command never stops the batch: ExecuteCommand logs the failure at error priority and
// reports it through its result, and the changes the command made before it failed stay. Commands
// for a sheet that is missing, deleted or not loaded are logged as "Not found" and count as done.
// A compound command {"cmd": "compound", "actions": [...]} runs its actions in order, each on its
// own; a compound may not contain another compound (then none of its actions runs).
//
// Lifetime: one executor per batch, over a spreadsheet that outlives it: ExecuteCommand for each
// command, UpdateIndex, GetEditors for the save's commit message.
//
// Threads: one thread uses an executor and its spreadsheet.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <set>
#include <vector>

#include "common/zoltsh_export.h"
#include "snapshot/spreadsheet.h"

namespace zoltsh {

class ZOLTSH_API Executor {
 public:
  explicit Executor(SpreadSheet& spreadsheet) : spreadsheet_(spreadsheet) {}
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;

  // Applies one command. True when it was applied or its sheet does not exist, false when it was
  // rejected (not an object, unknown name, invalid members, malformed compound, any other
  // failure). Never throws. The command's "uid" (a number, truncated to 32 bits) is recorded as an
  // editor when the command succeeded.
  bool ExecuteCommand(const Json::Value& command);
  // Runs the "actions" of a compound command. Throws InvalidParameter (1006) when "actions" is not
  // an array or holds a compound; then no action runs.
  void ExecuteCompound(const Json::Value& command);

  // The recorded uids, ascending.
  std::vector<unsigned int> GetEditors() const;
  // The index's "editors" becomes the ascending, duplicate-free union of its uids and the
  // recorded ones.
  void UpdateIndex();

 private:
  SpreadSheet& spreadsheet_;
  std::set<uint32_t> editors_;
};

}  // namespace zoltsh
