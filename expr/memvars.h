#ifndef VOSK_EXPR_MEMVARS_H_
#define VOSK_EXPR_MEMVARS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "expr/value.h"

namespace vosk {

// The memory variables: one process-wide table of named values (the Application's public
// variables, ACS_USER and friends). Names are case-insensitive: the letters a-z are folded to
// upper case, as the tokeniser folds identifiers.
//
// Invariants: a variable's value keeps its address until the variable is released or the table
// is cleared; generation() changes whenever a variable is created or removed, so a cached
// pointer is valid while the generation it was taken at is still current.
// Thread safety: none; the program runs expressions on one thread.

// Creates the variable or replaces its value.
void SetMemvar(std::string_view name, Value value);
// The variable's value, or nullptr when there is no such variable.
Value* FindMemvar(std::string_view name);
// Removes one variable; false when it did not exist.
bool ReleaseMemvar(std::string_view name);
// Removes every variable.
void ClearMemvars();
// Changes whenever a variable is created or removed.
uint64_t MemvarGeneration();

// Upper-cases the letters a-z only (names of fields, variables, functions and aliases).
std::string UpperName(std::string_view name);

}  // namespace vosk

#endif  // VOSK_EXPR_MEMVARS_H_
