#include "registry/product_registration.h"

#include <windows.h>

#include <vector>

#include "product/product_name.h"
#include "profile/tolvin_folder.h"
#include "registry/registry_in_folder.h"

namespace {

const char ProductId[] = "1";
const char DistributorId[] = "1";

// Only the first record with our id is ours to touch; ids compare as bytes, so
// "01" or "1 " belong to someone else.
void MarkProduct(std::vector<SoftwareEntry>& entries)
{
    for (SoftwareEntry& entry : entries) {
        if (entry.product_id == ProductId) {
            entry.distributor_id = DistributorId;
            return;
        }
    }
    entries.push_back(SoftwareEntry{ProductName, ProductId, DistributorId});
}

}  // namespace

void RegisterProductInProfile(const std::wstring& profileFolder)
{
    // Held until the write is done, so it cannot become a link in between.
    HeldFolder held;
    if (!HoldTolvinFolder(profileFolder, held))
        return;
    // From here on everything goes through the held handle, nothing by path.
    // Holding keeps the folder in place but not what it is: once empty, its
    // owner may turn it into a mount point (that takes only attribute access,
    // which share modes do not cover), and a path through it would then lead
    // wherever that points, with our rights. The handle stays on the folder.

    const std::wstring file = L"config.toml";
    std::vector<SoftwareEntry> entries;
    // Writing after a failed read would replace the other products' records with
    // ours alone; a missing file, though, is simply a first run. A linked file
    // fails the read too.
    if (!TryReadSoftwareRegistryIn(held.handle, file, entries))
        return;
    MarkProduct(entries);
    // Written back even when nothing changed, so the file ends up canonical.
    WriteSoftwareRegistryIn(held.handle, file, entries);
}

void RegisterProduct()
{
    const std::wstring profile = CurrentProfileFolder();
    if (!profile.empty())
        RegisterProductInProfile(profile);
}
