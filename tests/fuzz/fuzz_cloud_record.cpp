// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes fuzzer input as a file of the embedded cloud: a record in the web wire format, and a
// query subscription. zorvik-phone (or anyone with the user's rights) writes these files, so
// every CloudError is a rejection the application reports; anything else is a finding, and so
// is a decoded value that does not survive being written and read again.

#include <cstdint>
#include <optional>

#include "platform/linux/cloud/CloudRecordCoding.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

void requireDescribed(const CloudError& error) {
    fuzzRequire(!error.localizedDescription().isEmpty(), "a rejection without a description");
}

void checkRecord(const QByteArray& bytes) {
    std::optional<CloudRecord> decoded;
    try {
        decoded = CloudRecordCoding::decodeRecordFile(bytes);
    } catch (const CloudError& error) {
        requireDescribed(error);
        return;
    }
    fuzzRequire(CloudRecordCoding::isValidRecordName(decoded->recordName),
                "a record with a name that is no safe file name");
    fuzzRequire(!decoded->recordType.isEmpty(), "a record without a type");

    QByteArray encoded;
    try {
        encoded = CloudRecordCoding::encodeRecordFile(*decoded);
    } catch (const CloudError&) {
        fuzzRequire(false, "a decoded record cannot be encoded");
    }
    std::optional<CloudRecord> again;
    try {
        again = CloudRecordCoding::decodeRecordFile(encoded);
    } catch (const CloudError&) {
        fuzzRequire(false, "an encoded record is rejected");
    }
    fuzzRequire(again == decoded, "decode(encode()) differs");
}

void checkSubscription(const QByteArray& bytes) {
    std::optional<QuerySubscription> decoded;
    try {
        decoded = CloudRecordCoding::decodeSubscriptionFile(bytes);
    } catch (const CloudError& error) {
        requireDescribed(error);
        return;
    }
    fuzzRequire(CloudRecordCoding::isValidSubscriptionID(decoded->subscriptionID),
                "a subscription with an ID that is no safe file name");
    std::optional<QuerySubscription> again;
    try {
        again = CloudRecordCoding::decodeSubscriptionFile(
            CloudRecordCoding::encodeSubscriptionFile(*decoded));
    } catch (const CloudError&) {
        fuzzRequire(false, "a decoded subscription does not survive a round trip");
    }
    fuzzRequire(again == decoded, "decode(encode()) of a subscription differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    checkRecord(bytes);
    checkSubscription(bytes);
    return 0;
}
