// Benchmarks of the query compiler: compiles per second of typical queries
// (query builder output, a select with order by, a stored-query call with
// bracket expansion), each next to a baseline from the same run (lexing the
// same text), and the cost of field-name lookup for a ten-field query with
// the index against the linear table walk it replaces.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "fakes.h"
#include "property_name_table.h"
#include "restriction_compiler.h"
#include "stored_query.h"

namespace {

const char* const kBuilderOutput =
    "Categories = \"Work\" and LastModificationTime > Date(1,2,2006) and "
    "SenderName : \"smith\" and size MessageSize < 100000";
const char* const kSelectOrderBy =
    "select Subject, SenderName, MessageSize where MessageSize > 1000 and "
    "not exists Body order by descending LastModificationTime, Subject";
const char* const kStoredCall = "ByCategory(Work; Private; Home; Travel) and Subject : \"plan\"";

// Seconds for `rounds` tokenisations of text: the baseline of a compile.
double LexSeconds(const char* text, int rounds) {
    RestrictionCompiler lexer;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        lexer.SetCursor(text);
        while (lexer.NextToken() != kTokEnd) {
        }
        benchmark::DoNotOptimize(lexer.TokenText().size());
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void CompileQuery(benchmark::State& state, const char* query) {
    fake::Folder container;
    StoredQueryCollection queries;
    queries.Add("ByCategory", "[Categories = $c]").AddParameter("c", "or");
    RestrictionCompiler compiler;
    compiler.SetPropertyObject(&container);
    compiler.SetStoredQueries(&queries);
    for (auto _ : state) {
        compiler.Compile(query);
        if (compiler.HasError()) state.SkipWithError(compiler.ErrorText().c_str());
        benchmark::DoNotOptimize(compiler.Restriction());
    }
    state.counters["compiles/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    // Compile time over lexing time of the same text, measured now.
    const int rounds = 2000;
    const double lex = LexSeconds(query, rounds) / rounds;
    const double compile = [&] {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < rounds; ++i) compiler.Compile(query);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
               rounds;
    }();
    state.counters["x_lex_baseline"] = compile / lex;
}

void BM_CompileBuilderOutput(benchmark::State& state) {
    CompileQuery(state, kBuilderOutput);
}
void BM_CompileSelectOrderBy(benchmark::State& state) {
    CompileQuery(state, kSelectOrderBy);
}
void BM_CompileStoredCall(benchmark::State& state) {
    CompileQuery(state, kStoredCall);
}

// The PR_ names of a ten-field query, half of them found only in the second
// table or not at all (the worst case of the linear walk).
const std::vector<std::string> kTenFields = {
    "PR_SUBJECT",         "PR_SENDER_NAME",    "PR_MESSAGE_SIZE", "PR_LAST_MODIFICATION_TIME",
    "PR_EMS_AB_SERVER",   "PR_EMS_AB_MEMBER",  "PR_BODY",         "PR_DISPLAY_TO",
    "PR_CATEGORIES_NONE", "PR_EMAIL_1_ADDRESS"};

template <ULONG (*Lookup)(std::string_view)>
double LookupSeconds(int rounds) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        for (const std::string& name : kTenFields) benchmark::DoNotOptimize(Lookup(name));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_TenFieldLookupIndexed(benchmark::State& state) {
    for (auto _ : state)
        for (const std::string& name : kTenFields)
            benchmark::DoNotOptimize(LookupPropertyName(name));
    const int rounds = 2000;
    const double indexed = LookupSeconds<LookupPropertyName>(rounds) / rounds;
    const double linear = LookupSeconds<LookupPropertyNameLinear>(rounds) / rounds;
    state.counters["indexed_us"] = indexed * 1e6;
    state.counters["linear_us"] = linear * 1e6;
    state.counters["x_linear_baseline"] = indexed / linear;
}

void BM_TenFieldLookupLinear(benchmark::State& state) {
    for (auto _ : state)
        for (const std::string& name : kTenFields)
            benchmark::DoNotOptimize(LookupPropertyNameLinear(name));
}

BENCHMARK(BM_CompileBuilderOutput);
BENCHMARK(BM_CompileSelectOrderBy);
BENCHMARK(BM_CompileStoredCall);
BENCHMARK(BM_TenFieldLookupIndexed);
BENCHMARK(BM_TenFieldLookupLinear);

}  // namespace

BENCHMARK_MAIN();
