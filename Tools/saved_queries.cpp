// Reading, checking and writing the user's saved queries, and handing them
// to the compiler as its stored-query collection.
#include "saved_queries.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "property_name_table.h"
#include "restriction_compiler.h"
#include "stored_query.h"

namespace {

namespace fs = std::filesystem;

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsWordChar(char c) {
    return IsAsciiLetter(c) || (c >= '0' && c <= '9');
}

std::string Trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return "";
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// A value is one line of the file: line breaks become blanks.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return Trim(text);
}

// The parameter names that text refers to as $name, in order of first use.
std::vector<std::string> References(const std::string& text) {
    std::vector<std::string> names;
    for (size_t at = text.find('$'); at != std::string::npos; at = text.find('$', at + 1)) {
        size_t end = at + 1;
        while (end < text.size() && IsWordChar(text[end])) ++end;
        std::string name = text.substr(at + 1, end - at - 1);
        bool known = false;
        for (const std::string& n : names) known = known || n == name;
        if (!known) names.push_back(std::move(name));
    }
    return names;
}

class Parser {
public:
    Parser(const std::string& fileName, SavedQueryList& list) : m_file(fileName), m_list(list) {}

    void Line(const std::string& raw) {
        ++m_line;
        std::string line = raw;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        line = Trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') return;
        if (line[0] == '[') return Section(line);
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            return Problem("a line must be [name], key = value or a comment starting with #");
        if (m_skipping) return;
        if (!m_open)
            return Problem("\"" + Trim(line.substr(0, eq)) + "\" stands before any [name]");
        Key(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
    }

    void End() { Close(); }

private:
    void Problem(const std::string& why, int line = 0) {
        m_list.problems.push_back(m_file + ":" + std::to_string(line != 0 ? line : m_line) + ": " +
                                  why);
    }

    void Section(const std::string& line) {
        Close();
        m_skipping = true;
        if (line.back() != ']') return Problem("a section header must look like [name]");
        const std::string name = Trim(line.substr(1, line.size() - 2));
        if (std::string why = SavedQueryNameProblem(name); !why.empty()) return Problem(why);
        if (FindSavedQuery(m_list.queries, name) != nullptr)
            return Problem("a second query named " + name + "; the first one counts");
        m_skipping = false;
        m_open = true;
        m_query = SavedQuery{};
        m_query.name = name;
        m_sectionLine = m_line;
        m_textLine = 0;
    }

    void Key(const std::string& key, const std::string& value) {
        if (key == "description") {
            m_query.description = value;
        } else if (key == "text") {
            if (m_textLine != 0) return Problem("a second text for " + m_query.name);
            m_query.text = value;
            m_textLine = m_line;
        } else if (key == "parameter") {
            size_t end = 0;
            while (end < value.size() && IsWordChar(value[end])) ++end;
            const std::string name = value.substr(0, end);
            if (name.empty() || (end < value.size() && value[end] != ' ' && value[end] != '\t'))
                return Problem("a parameter is one word of letters and digits, then its joiner");
            for (const SavedQueryParameter& p : m_query.parameters)
                if (p.name == name) return Problem("a second parameter named " + name);
            m_query.parameters.push_back({name, Trim(value.substr(end))});
        } else {
            Problem("unknown key \"" + key + "\" (description, parameter or text)");
        }
    }

    void Close() {
        if (!m_open) return;
        m_open = false;
        if (m_query.text.empty())
            return Problem("the query " + m_query.name + " has no text", m_sectionLine);
        // The compiler would take an unknown $name as an empty parameter of
        // its own, which silently changes what the query selects.
        for (const std::string& name : References(m_query.text)) {
            bool declared = false;
            for (const SavedQueryParameter& p : m_query.parameters) declared |= p.name == name;
            if (!declared)
                return Problem(
                    "the text uses $" + name + ", which is no parameter of " + m_query.name,
                    m_textLine);
        }
        m_list.queries.push_back(std::move(m_query));
    }

    const std::string& m_file;
    SavedQueryList& m_list;
    int m_line = 0;
    bool m_open = false;
    bool m_skipping = false;
    SavedQuery m_query;
    int m_sectionLine = 0;
    int m_textLine = 0;
};

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

std::string SavedQueriesPath() {
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty()) {
        const std::string home = Env("HOME");
        if (home.empty()) return "";
        config = home + "/.config";
    }
    return config + "/quirnel/queries.ini";
}

std::vector<SavedQuery> ExampleSavedQueries() {
    // The language has no arithmetic, so a year's end is written as the
    // start of the next one.
    return {
        {"ItemsOfYear",
         "Items created in a year: ItemsOfYear(2024, 2025), the year and the one after it",
         {{"year", ""}, {"next", ""}},
         "CreationTime >= Date(1,1,$year) and CreationTime < Date(1,1,$next)"},
        {"FromSender",
         "Items from a sender, by name or address: FromSender(\"Anna; bob@example.org\")",
         {{"sender", "or"}},
         "[(SenderName : $sender or SenderEmailAddress : $sender)]"},
        {"AttachmentOver",
         "Items with an attachment larger than a number of bytes: AttachmentOver(1000000)",
         {{"bytes", ""}},
         "attachment(AttachSize > $bytes)"},
    };
}

SavedQueryList ParseSavedQueries(const std::string& text, const std::string& fileName) {
    SavedQueryList list;
    list.fromFile = true;
    Parser parser(fileName, list);
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) parser.Line(line);
    parser.End();
    return list;
}

SavedQueryList LoadSavedQueries(const std::string& path) {
    SavedQueryList list;
    std::error_code ec;
    if (path.empty() || (!fs::exists(path, ec) && !ec)) {
        list.queries = ExampleSavedQueries();
        return list;
    }
    list.fromFile = true;
    if (fs::is_directory(path, ec)) {
        list.problems.push_back(path + ": is a folder, not a file of saved queries");
        return list;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        list.problems.push_back(path + ": cannot be read: " + std::strerror(errno));
        return list;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        list.problems.push_back(path + ": cannot be read: " + std::strerror(errno));
        return list;
    }
    return ParseSavedQueries(text.str(), path);
}

std::string SavedQueriesText(const std::vector<SavedQuery>& queries) {
    std::string out =
        "# Saved queries of Quirnel. A query calls one of them by its name with its\n"
        "# arguments in brackets, as in FromSender(\"Anna\"); arguments other than one\n"
        "# word of letters and digits go in double quotes.\n"
        "#   parameter = NAME [JOINER]  one line per argument, in order; $NAME in the\n"
        "#                              text stands for it\n"
        "#   text = QUERY               [ ... ] is repeated for each item of an argument\n"
        "#                              (items separated by ;), joined by the JOINER\n";
    for (const SavedQuery& q : queries) {
        out += "\n[" + q.name + "]\n";
        if (!q.description.empty()) out += "description = " + OneLine(q.description) + "\n";
        for (const SavedQueryParameter& p : q.parameters)
            out +=
                "parameter = " + p.name + (p.joiner.empty() ? "" : " " + OneLine(p.joiner)) + "\n";
        out += "text = " + OneLine(q.text) + "\n";
    }
    return out;
}

bool SaveSavedQueries(const std::string& path, const std::vector<SavedQuery>& queries,
                      std::string* error) {
    std::error_code ec;
    const fs::path file(path);
    if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);
    if (ec) {
        *error = file.parent_path().string() + ": " + ec.message();
        return false;
    }
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << SavedQueriesText(queries);
        out.flush();
        if (!out) {
            *error = temporary + ": cannot be written: " + std::strerror(errno);
            out.close();
            fs::remove(temporary, ec);
            return false;
        }
    }
    fs::rename(temporary, file, ec);
    if (ec) {
        *error = path + ": " + ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

std::string SavedQueryNameProblem(const std::string& name) {
    if (name.empty()) return "a saved query needs a name";
    if (!IsAsciiLetter(name[0])) return "the name " + name + " must start with a letter";
    for (char c : name)
        if (!IsWordChar(c)) return "the name " + name + " may hold only letters and digits";
    if (name.size() > 64) return "the name " + name + " is longer than 64 characters";
    RestrictionCompiler lexer;
    lexer.SetCursor(name.c_str());
    if (lexer.NextToken() != kTokIdentifier)
        return "the name " + name + " is a word of the query language";
    bool field = LookupPropertyName(PropertyNameOf(name)) != 0;
    for (const auto& named : lexer.NamedFields()) field = field || named->name == name;
    if (field) return "the name " + name + " is a field of the query language";
    return "";
}

void FillStoredQueries(const std::vector<SavedQuery>& queries, StoredQueryCollection& collection) {
    collection.queries.clear();
    for (const SavedQuery& saved : queries) {
        StoredQuery& stored = collection.Add(saved.name, saved.text);
        for (const SavedQueryParameter& p : saved.parameters) stored.AddParameter(p.name, p.joiner);
    }
}

const SavedQuery* FindSavedQuery(const std::vector<SavedQuery>& queries, const std::string& name) {
    for (const SavedQuery& q : queries)
        if (q.name == name) return &q;
    return nullptr;
}
