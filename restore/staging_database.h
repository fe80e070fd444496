#pragma once

// The staging database of a restore: the dump is loaded into a new database
// of its own beside the target, on the same server, and the target changes
// only once the whole dump is in. Then the tables move in by one RENAME
// TABLE, which moves them all or none, with their rows, keys and the state of
// sequences; what cannot move between databases (views, routines, packages,
// triggers, events, the database's own settings) is made again in the target
// from the dump's statements. Whatever of the target stands in the way of
// what the dump makes is dropped just before, whatever its kind (a table
// where the dump has a view, a trigger of the same name on a table the dump
// does not have); nothing else of the target is touched.
//
// Loading and moving are steps of their own: whoever loads the staging
// database (one connection or several) moves it in once all are done.

#include <mysql.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vaultwick {

class StagingDatabase {
 public:
  // A new, empty staging database named after `target`. nullopt, with the
  // server's text in *error, when it cannot be made.
  static std::optional<StagingDatabase> Create(MYSQL* connection, std::string_view target,
                                               std::string* error);

  const std::string& name() const { return name_; }

  enum class Moved {
    All,      // the target holds what the dump makes
    Nothing,  // the target is as it was (one that did not exist still does not)
    Partly,   // the move stopped after it had changed the target
  };
  // Moves what was loaded into `target`, created when missing, through
  // `connection` (whose session is set up as for the load). `remade` are the
  // dump's statements that MadeAgainInTarget, in dump order. Anything but
  // All leaves in *error the step that failed and the server's text.
  Moved MoveInto(MYSQL* connection, const std::string& target,
                 const std::vector<std::string>& remade, std::string* error) const;

  // Drops the staging database with whatever it still holds.
  bool Drop(MYSQL* connection, std::string* error) const;

 private:
  explicit StagingDatabase(std::string name) : name_(std::move(name)) {}

  std::string name_;
};

}  // namespace vaultwick
