// Stored queries: named query texts with parameters that a query can call,
// as in `ByCategory(Work; Private)`.
//
// The caller builds and owns the collection; the compiler borrows it. A call
// writes its arguments into the parameters' values, and expanding a text that
// mentions a parameter the query lacks appends that parameter, so a
// collection is in use by one compiler at a time.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct StoredQueryParameter {
    std::string name;    // written as $name in the text; case-sensitive
    std::string joiner;  // placed between the repetitions of a bracket section
    std::string value;   // the argument of the current call; items split at ';'
};

struct StoredQuery {
    std::string name;  // the identifier that calls it; case-sensitive
    std::string text;  // query text with $name references and [ ] sections
    // In the order their arguments are written.
    std::vector<std::unique_ptr<StoredQueryParameter>> parameters;

    // Appends a parameter and returns it.
    StoredQueryParameter& AddParameter(std::string name, std::string joiner = "");
};

struct StoredQueryCollection {
    std::vector<std::unique_ptr<StoredQuery>> queries;

    // Appends a query and returns it.
    StoredQuery& Add(std::string name, std::string text);
};
