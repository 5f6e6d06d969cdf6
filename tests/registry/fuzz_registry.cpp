// libFuzzer target for the config.toml line rules, built natively with clang
// (tools/fuzz-registry.sh). Every input is used twice:
//   1. as the bytes of a config.toml file;
//   2. as a list of records (fields cut from the input) that is written out.
// In both cases the records read must satisfy the reader's invariants, and
// write-then-read must return the same list exactly when every record meets the
// round-trip conditions below (checked in both directions).
//
// Round-trip conditions, per record (derived from the line rules; each one is
// needed as well as sufficient):
//   - product_id is not empty (records without one are dropped);
//   - no field contains a double quote (removed on reading), a line feed (ends
//     the line) or a 0x1A byte (ends the input);
//   - no field starts with a space or a tab (trimmed on reading);
//   - name does not contain "[[software]]" (its line would read as a header);
//   - product_id contains neither "[[software]]" nor "name" (an earlier rule
//     would claim its line);
//   - distributor_id contains none of "[[software]]", "name", "product_id".
// A field may hold '=' (only the first one on the line separates), a CR anywhere
// (the closing quote always stands between it and the CR LF), a key text that
// its own line or a later rule already implies, NUL bytes and trailing blanks.
//
// Records read from a file do not always meet them: quotes are removed after the
// line was matched, so `name = "[[software]"]"` reads as the name "[[software]]"
// and `product_id = "na"me"` as the product id "name". Case 1 therefore applies
// the same two-way check instead of expecting every read record to survive.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

#include "registry/registry_format.h"

namespace {

bool Has(const std::string& field, const char* text)
{
    return field.find(text) != std::string::npos;
}

bool StartsBlank(const std::string& field)
{
    return !field.empty() && (field[0] == ' ' || field[0] == '\t');
}

bool HasForbiddenByte(const std::string& field)
{
    return field.find_first_of(std::string("\"\n\x1A", 3)) != std::string::npos;
}

bool SurvivesRoundTrip(const SoftwareEntry& entry)
{
    for (const std::string* field : {&entry.name, &entry.product_id, &entry.distributor_id})
        if (HasForbiddenByte(*field) || StartsBlank(*field))
            return false;
    if (entry.product_id.empty())
        return false;
    if (Has(entry.name, "[[software]]"))
        return false;
    if (Has(entry.product_id, "[[software]]") || Has(entry.product_id, "name"))
        return false;
    if (Has(entry.distributor_id, "[[software]]") || Has(entry.distributor_id, "name") ||
        Has(entry.distributor_id, "product_id"))
        return false;
    return true;
}

bool SameRecords(const std::vector<SoftwareEntry>& a, const std::vector<SoftwareEntry>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].name != b[i].name || a[i].product_id != b[i].product_id ||
            a[i].distributor_id != b[i].distributor_id)
            return false;
    return true;
}

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "registry fuzz: %s\n", what);
    std::abort();
}

void CheckReaderInvariants(const std::vector<SoftwareEntry>& entries)
{
    for (const SoftwareEntry& entry : entries) {
        if (entry.product_id.empty())
            Fail("record with an empty product_id");
        for (const std::string* field : {&entry.name, &entry.product_id, &entry.distributor_id}) {
            if (field->find('"') != std::string::npos)
                Fail("field holds a double quote");
            if (field->find('\n') != std::string::npos)
                Fail("field holds a line feed");
            if (StartsBlank(*field))
                Fail("field starts with a space or tab");
        }
    }
}

void CheckRoundTrip(const std::vector<SoftwareEntry>& records)
{
    bool allSurvive = true;
    for (const SoftwareEntry& entry : records)
        allSurvive = allSurvive && SurvivesRoundTrip(entry);
    const std::vector<SoftwareEntry> reread = ParseSoftwareRegistry(FormatSoftwareRegistry(records));
    CheckReaderInvariants(reread);
    const bool same = SameRecords(reread, records);
    if (allSurvive && !same)
        Fail("records meeting the round-trip conditions came back changed");
    if (!allSurvive && same)
        Fail("records breaking a round-trip condition came back unchanged");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // 1. The input as a file.
    const std::vector<SoftwareEntry> read = ParseSoftwareRegistry(bytes);
    CheckReaderInvariants(read);
    CheckRoundTrip(read);

    // 2. The input as records.
    FuzzedDataProvider provider(data, size);
    std::vector<SoftwareEntry> records;
    while (provider.remaining_bytes() > 0 && records.size() < 64) {
        SoftwareEntry entry;
        entry.name = provider.ConsumeRandomLengthString(256);
        entry.product_id = provider.ConsumeRandomLengthString(256);
        entry.distributor_id = provider.ConsumeRandomLengthString(256);
        records.push_back(entry);
    }
    CheckRoundTrip(records);
    return 0;
}
