// Calls of stored queries: reading the arguments, expanding the stored text
// (parameter references and repeated bracket sections) and compiling the
// expansion in place.
#include "restriction_compiler.h"
#include "stored_query.h"

namespace {

bool IsWordChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

// The section with every "$name" replaced by the quoted item; the inserted
// item is not searched again.
std::string Substitute(const std::string& section, const std::string& reference,
                       const std::string& item) {
    std::string out;
    size_t from = 0;
    for (size_t at; (at = section.find(reference, from)) != std::string::npos;
         from = at + reference.size()) {
        out.append(section, from, at - from);
        out += '"';
        out += item;
        out += '"';
    }
    out.append(section, from, std::string::npos);
    return out;
}

}  // namespace

StoredQueryParameter& StoredQuery::AddParameter(std::string name, std::string joiner) {
    auto parameter = std::make_unique<StoredQueryParameter>();
    parameter->name = std::move(name);
    parameter->joiner = std::move(joiner);
    parameters.push_back(std::move(parameter));
    return *parameters.back();
}

StoredQuery& StoredQueryCollection::Add(std::string name, std::string text) {
    auto query = std::make_unique<StoredQuery>();
    query->name = std::move(name);
    query->text = std::move(text);
    queries.push_back(std::move(query));
    return *queries.back();
}

const StoredQuery* RestrictionCompiler::FindStoredQuery(const std::string& name) const {
    if (m_storedQueries == nullptr) return nullptr;
    for (const auto& query : m_storedQueries->queries)
        if (query->name == name) return query.get();
    return nullptr;
}

bool RestrictionCompiler::IsActiveStoredQuery(const std::string& name) const {
    for (const std::string& active : m_activeStoredQueries)
        if (active == name) return true;
    return false;
}

StoredQueryParameter* RestrictionCompiler::FindOrAddParameter(StoredQuery& query,
                                                              const std::string& name) {
    for (const auto& parameter : query.parameters)
        if (parameter->name == name) return parameter.get();
    return &query.AddParameter(name);
}

// argument := { token } up to "," or ")"; a token other than a string,
// identifier or content keyword ends the argument and belongs to it.
std::string RestrictionCompiler::CollectArgument() {
    std::string argument;
    for (;;) {
        const int token = NextToken();
        if (token == ',' || token == ')') return argument;
        if (!argument.empty()) argument += ' ';
        argument += m_tokenText;
        switch (token) {
            case kTokString:
            case kTokIdentifier:
            case kTokSubstring:
            case kTokPrefix:
            case kTokIgnoreCase:
            case kTokLoose:
            case kTokIgnoreSpace:
                continue;
            default:
                return argument;
        }
    }
}

// call := name "(" argument { "," argument } ")"
void RestrictionCompiler::CallStoredQuery(const StoredQuery& stored) {
    // The collection hands out its queries for writing their parameter values.
    StoredQuery& query = const_cast<StoredQuery&>(stored);
    m_activeStoredQueries.push_back(query.name);
    if (NextToken() != '(') AddError("Expeced '('");
    for (const auto& parameter : query.parameters) parameter->value = CollectArgument();
    if (query.parameters.empty() && NextToken() != ')') {
        AddError("Expected ')'");
        return;
    }
    const char* resume = m_cursor;
    const std::string expanded = ExpandStoredQuery(query);
    SetCursor(expanded.c_str());
    ParseCondition();
    SetCursor(resume);
    m_activeStoredQueries.pop_back();
}

std::string RestrictionCompiler::ExpandStoredQuery(const StoredQuery& stored) {
    StoredQuery& query = const_cast<StoredQuery&>(stored);
    const std::string& text = query.text;
    std::string out;
    std::string section;
    bool inSection = false;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '$') {
            size_t end = i + 1;
            while (end < text.size() && IsWordChar(text[end])) ++end;
            StoredQueryParameter* parameter =
                FindOrAddParameter(query, text.substr(i + 1, end - i - 1));
            if (inSection)
                section.append(text, i, end - i);
            else
                out += parameter->value;
            i = end;
            continue;
        }
        if (c == '[' && !inSection) {
            inSection = true;
            section.clear();
        } else if (c == ']' && inSection) {
            inSection = false;
            for (const auto& parameter : query.parameters) {
                bool first = true;
                const std::string& value = parameter->value;
                for (size_t from = 0;;) {
                    const size_t stop = value.find(';', from);
                    const std::string item =
                        Trim(value.substr(from, stop == std::string::npos ? stop : stop - from));
                    if (!item.empty()) {
                        if (!first) out += "\r\n " + parameter->joiner + " ";
                        first = false;
                        out += Substitute(section, "$" + parameter->name, item);
                    }
                    if (stop == std::string::npos) break;
                    from = stop + 1;
                }
            }
        } else if (inSection) {
            section += c;
        } else {
            out += c;
        }
        ++i;
    }
    return out;
}
