// Saved queries: the user's collection of named queries with parameters,
// kept in an INI file and turned into the compiler's stored queries, so that
// a query can say `FromSender("Anna")` instead of spelling the condition out.
//
// The file is ${XDG_CONFIG_HOME:-~/.config}/quirnel/queries.ini. Until it
// exists, the examples of ExampleSavedQueries() are in effect; the first
// change made through the query builder writes the file with them, so that
// removing an example sticks. The command-line tools only ever read it.
//
//   [FromSender]
//   description = Items from a sender: FromSender("Anna; bob@example.org")
//   parameter = sender or          one line per parameter: NAME [JOINER]
//   text = [(SenderName : $sender or SenderEmailAddress : $sender)]
//
// Lines starting with '#' or ';' are comments. A broken line is reported as
// "FILE:LINE: reason" and left out; the rest of the file still counts.
#pragma once

#include <string>
#include <vector>

struct StoredQueryCollection;

struct SavedQueryParameter {
    std::string name;
    std::string joiner;  // between the repetitions of a [ ] section
};

struct SavedQuery {
    std::string name;
    std::string description;
    std::vector<SavedQueryParameter> parameters;  // in the order of the arguments
    std::string text;
};

struct SavedQueryList {
    std::vector<SavedQuery> queries;
    // "FILE:LINE: reason" or "FILE: reason", one per problem, in file order.
    std::vector<std::string> problems;
    // False while no file exists and the examples stand in for it.
    bool fromFile = false;
};

// Where the user's saved queries live (see above); empty when neither
// XDG_CONFIG_HOME nor HOME is set.
std::string SavedQueriesPath();

// The queries in effect while the user has no file of their own.
std::vector<SavedQuery> ExampleSavedQueries();

// Reads path. A file that does not exist gives the examples; one that cannot
// be read gives no queries and one problem naming it.
SavedQueryList LoadSavedQueries(const std::string& path);

// Parses the text of a queries file; fileName only names it in problems.
SavedQueryList ParseSavedQueries(const std::string& text, const std::string& fileName);

// The file text for queries, which ParseSavedQueries reads back unchanged.
std::string SavedQueriesText(const std::vector<SavedQuery>& queries);

// Writes the file whole (through a temporary file beside it, so that a
// failed write leaves the old file as it was), making its folder if needed.
// False with *error set when it could not.
bool SaveSavedQueries(const std::string& path, const std::vector<SavedQuery>& queries,
                      std::string* error);

// Why name cannot name a saved query, or the empty text when it can: it
// must be one word of ASCII letters and digits starting with a letter, and
// neither a keyword nor a field of the language, whose meaning it would hide.
std::string SavedQueryNameProblem(const std::string& name);

// Replaces the collection's queries with these.
void FillStoredQueries(const std::vector<SavedQuery>& queries, StoredQueryCollection& collection);

// The first query named name, or null.
const SavedQuery* FindSavedQuery(const std::vector<SavedQuery>& queries, const std::string& name);
