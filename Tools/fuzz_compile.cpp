// libFuzzer target for RestrictionCompiler::Compile: any byte string must
// compile to a restriction or an error text, without a crash, a hang or a
// leak. Named fields resolve against a test container; a small collection of
// stored queries (brackets, nesting, a loop) is set so calls are reached too.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <runtime/alloc_fault.h>

#include "fakes.h"
#include "restriction_compiler.h"
#include "restriction_text.h"
#include "stored_query.h"

namespace {

void FillQueries(StoredQueryCollection& queries) {
    queries.Add("Q", "Subject = $p").AddParameter("p");
    queries.Add("Cats", "[Categories = $c]").AddParameter("c", "or");
    StoredQuery& two = queries.Add("Two", "[Subject = $a] and ([Body : $b])");
    two.AddParameter("a", "or");
    two.AddParameter("b", "and");
    queries.Add("Self", "Subject = \"a\" or Self()");
    queries.Add("Nest", "not Cats($x) or Q($y)").AddParameter("x");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const long chainsBefore = mapi::LiveAllocationChains();
    {
        fake::Folder container;
        StoredQueryCollection queries;
        FillQueries(queries);
        RestrictionCompiler compiler;
        compiler.SetPropertyObject(&container);
        compiler.SetStoredQueries(&queries);
        compiler.Compile(text.c_str());
        if (!compiler.HasError()) {
            // Walk every node the way a table would.
            RestrictionText(compiler.Restriction());
            if (compiler.Columns()) ColumnsText(*compiler.Columns());
            if (compiler.SortOrder()) SortOrderText(*compiler.SortOrder());
        } else if (compiler.ErrorText().empty()) {
            std::abort();  // a failed compile always says why
        }
    }
    if (mapi::LiveAllocationChains() != chainsBefore) std::abort();
    return 0;
}
