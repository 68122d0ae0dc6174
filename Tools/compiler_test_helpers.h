// Helpers shared by the compiler's tests: compile a query against a fresh
// test container and read back what came out as text.
#pragma once

#include <string>

#include "fakes.h"
#include "restriction_compiler.h"
#include "restriction_text.h"

// The restriction text of the compile, or "error:" and the error text.
inline std::string Outcome(RestrictionCompiler& compiler, const std::string& query) {
    compiler.Compile(query.c_str());
    if (compiler.HasError()) return "error:" + compiler.ErrorText();
    return RestrictionText(compiler.Restriction());
}

// Compiles with a new compiler over a new container (named ids from 0x8000).
inline std::string Outcome(const std::string& query) {
    fake::Folder container;
    RestrictionCompiler compiler;
    compiler.SetPropertyObject(&container);
    return Outcome(compiler, query);
}
