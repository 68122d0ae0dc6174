// libFuzzer target for the reading of a server's answers: the bytes play a
// server (its greeting, then its answers to a short series of commands the
// first byte picks) and reach libetpan's parser through the stream guard,
// in reads of a size the second byte picks, so that lines and literals are
// cut at every place. Any byte string must end in a result code, without a
// crash, a hang, a leak, or a line or literal past the guard's limits
// reaching the parser.
#include <libetpan/libetpan.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "providers/imap/imap_stream_guard.h"

namespace {

using mapi::imap::GuardStream;
using mapi::imap::LastStreamFault;
using mapi::imap::StreamFault;

// Small limits, so that short inputs reach them.
constexpr size_t kLine = 2048;
constexpr uint64_t kLiteral = 1 << 16;

struct Feed {
    const uint8_t* data;
    size_t left;
    size_t chunk;
    size_t lineSoFar = 0;  // the longest run without LF the parser was given
    size_t longestRun = 0;
};

ssize_t FeedRead(mailstream_low* s, void* buf, size_t count) {
    auto* feed = static_cast<Feed*>(s->data);
    const size_t n = std::min({count, feed->left, feed->chunk});
    std::memcpy(buf, feed->data, n);
    feed->data += n;
    feed->left -= n;
    return static_cast<ssize_t>(n);
}

ssize_t FeedWrite(mailstream_low*, const void*, size_t count) {
    return static_cast<ssize_t>(count);
}
int FeedClose(mailstream_low*) {
    return 0;
}
int FeedFd(mailstream_low*) {
    return -1;
}
void FeedFree(mailstream_low* s) {
    std::free(s);
}
void FeedCancel(mailstream_low*) {}
struct mailstream_cancel* FeedGetCancel(mailstream_low*) {
    return nullptr;
}

mailstream_low_driver g_feedDriver = {FeedRead,   FeedWrite,     FeedClose, FeedFd,
                                      FeedFree,   FeedCancel,    FeedGetCancel,
                                      nullptr,    nullptr,       nullptr,   nullptr};

void Commands(mailimap* session, uint8_t pick) {
    if (session->imap_state == MAILIMAP_STATE_NON_AUTHENTICATED &&
        mailimap_login(session, "user", "password") != MAILIMAP_NO_ERROR)
        return;
    switch (pick % 5) {
        case 0:
            mapi::imap::AskCapabilities(session);
            break;
        case 1: {
            clist* list = nullptr;
            if (mailimap_list(session, "", "*", &list) == MAILIMAP_NO_ERROR)
                mailimap_list_result_free(list);
            break;
        }
        case 2: {
            if (mailimap_select(session, "INBOX") != MAILIMAP_NO_ERROR) break;
            mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
            mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
            mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_rfc822_size());
            mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_flags());
            mailimap_fetch_type_new_fetch_att_list_add(
                type, mailimap_fetch_att_new_body_peek_section(mailimap_section_new(nullptr)));
            mailimap_set* set = mailimap_set_new_interval(1, 0);
            clist* result = nullptr;
            if (mailimap_uid_fetch(session, set, type, &result) == MAILIMAP_NO_ERROR)
                mailimap_fetch_list_free(result);
            mailimap_set_free(set);
            mailimap_fetch_type_free(type);
            break;
        }
        case 3: {
            if (mailimap_select(session, "INBOX") != MAILIMAP_NO_ERROR) break;
            mailimap_search_key* key = mailimap_search_key_new_all();
            clist* result = nullptr;
            if (mailimap_uid_search(session, nullptr, key, &result) == MAILIMAP_NO_ERROR)
                mailimap_search_result_free(result);
            mailimap_search_key_free(key);
            break;
        }
        default: {
            const char message[] = "Subject: x\r\n\r\nbody\r\n";
            uint32_t validity = 0;
            uint32_t uid = 0;
            mailimap_uidplus_append(session, "INBOX", nullptr, nullptr, message,
                                    sizeof message - 1, &validity, &uid);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    Feed feed{data + 2, size - 2, size_t{data[1]} % 97 + 1};
    const uint8_t pick = data[0];
    mailstream_low* low = mailstream_low_new(&feed, &g_feedDriver);
    if (low == nullptr || !GuardStream(low, kLine, kLiteral)) std::abort();
    mailstream* stream = mailstream_new(low, 8192);
    mailimap* session = mailimap_new(0, nullptr);
    if (stream == nullptr || session == nullptr) std::abort();
    const int r = mailimap_connect(session, stream);
    if (r == MAILIMAP_NO_ERROR_NON_AUTHENTICATED || r == MAILIMAP_NO_ERROR_AUTHENTICATED)
        Commands(session, pick);
    // What the parser kept of a line must be within the guard's limit:
    // libetpan's buffer holds one response, so a buffer longer than the
    // line limit with no LF in it means the guard let a line through.
    if (session->imap_stream_buffer != nullptr) {
        const MMAPString* buffer = session->imap_stream_buffer;
        size_t run = 0;
        for (size_t i = 0; i < buffer->len; ++i) run = buffer->str[i] == '\n' ? 0 : run + 1;
        if (run > kLine + kLiteral && LastStreamFault(low) == StreamFault::kNone) std::abort();
    }
    // As the connection does it: closing the stream first spares the LOGOUT.
    if (session->imap_stream != nullptr) {
        mailstream_close(session->imap_stream);
        session->imap_stream = nullptr;
    }
    mailimap_free(session);
    return 0;
}
