// The generator's plan: folders first, then items spread over them.
#include "sample_store.h"

#include <vector>

#include "sample_folders.h"
#include "sample_names.h"

namespace mapi::tools {
namespace {

std::vector<const SampleFolder*> WithRole(const std::vector<SampleFolder>& folders,
                                          FolderRole role) {
    std::vector<const SampleFolder*> out;
    for (const SampleFolder& f : folders)
        if (f.role == role) out.push_back(&f);
    return out;
}

// A mail folder drawn by weight.
const SampleFolder& PickMailFolder(SampleRandom& rng, const std::vector<SampleFolder>& folders,
                                   uint32_t totalWeight) {
    uint32_t draw = rng.Below(totalWeight);
    for (const SampleFolder& f : folders) {
        if (f.role != FolderRole::kMail) continue;
        if (draw < f.weight) return f;
        draw -= f.weight;
    }
    return folders.front();  // not reached: the weights add up to totalWeight
}

}  // namespace

HRESULT FillSampleStore(IMsgStore* store, const SampleOptions& options, SampleSummary* summary,
                        std::string* error) {
    *summary = SampleSummary();
    SampleNamedTags named;
    HRESULT hr = named.Resolve(store);
    if (FAILED(hr)) {
        *error = "cannot register the named properties";
        return hr;
    }
    std::vector<SampleFolder> folders;
    hr = BuildSampleFolders(store, &folders, error);
    if (FAILED(hr)) return hr;
    summary->folders = static_cast<uint32_t>(folders.size());

    uint32_t totalWeight = 0;
    for (const SampleFolder& f : folders)
        if (f.role == FolderRole::kMail) totalWeight += f.weight;
    std::vector<const SampleFolder*> contactFolders = WithRole(folders, FolderRole::kContacts);
    std::vector<const SampleFolder*> calendars = WithRole(folders, FolderRole::kCalendar);

    SampleRandom rng(options.seed);
    SampleItemWriter writer(rng, named, *summary);
    const uint32_t contacts = options.items / 25;
    const uint32_t appointments = options.items / 20;
    for (uint32_t i = 0; i < options.items; ++i) {
        // Interleaved, as a real mailbox grows. The two residues never meet
        // (24 and 10 differ modulo gcd(25, 20) = 5), so each kind gets
        // exactly its share.
        const SampleFolder* target;
        if (i % 25 == 24 && i / 25 < contacts) {
            target = contactFolders[rng.Below(static_cast<uint32_t>(contactFolders.size()))];
            hr = writer.CreateContact(target->folder.get());
        } else if (i % 20 == 10 && i / 20 < appointments) {
            target = calendars[rng.Below(static_cast<uint32_t>(calendars.size()))];
            hr = writer.CreateAppointment(target->folder.get());
        } else {
            target = &PickMailFolder(rng, folders, totalWeight);
            hr =
                writer.CreateMail(target->folder.get(), target->year, target->unsent, target->sent);
        }
        if (FAILED(hr)) {
            *error = "cannot write item " + std::to_string(i + 1) + " in " + target->path;
            return hr;
        }
    }

    struct Hidden {
        FolderRole role;
        const char* messageClass;
        const char* subject;
    };
    static const Hidden kHidden[] = {
        {FolderRole::kMail, "IPM.Configuration.WorkHours", "Work hours"},
        {FolderRole::kMail, "IPM.Rule.Version2.Message", "Move newsletters"},
        {FolderRole::kCalendar, "IPM.Microsoft.FolderDesign.NamedView", "Day view"},
    };
    for (const Hidden& h : kHidden) {
        const SampleFolder* target = WithRole(folders, h.role).front();
        hr = writer.CreateAssociated(target->folder.get(), h.messageClass, h.subject);
        if (FAILED(hr)) {
            *error = "cannot write an associated item in " + target->path;
            return hr;
        }
    }
    return S_OK;
}

}  // namespace mapi::tools
