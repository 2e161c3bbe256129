// Reading a run journal, which a user can edit by hand: a journal in an order
// a run can leave behind or a refusal, one that writes back to itself, and a
// plan a resume can rebuild the run from.
// Input: the journal's bytes.
#include "journalsupport.h"
#include "runsetup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzzsupport::bytes(data, size);
    QString error;
    const std::optional<records::JournalContents> journal =
        records::journalFromBytes(bytes, &error);
    if (!journal) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    const records::JournalContents& c = journal.value();
    FUZZ_CHECK(c.format == records::kJournalFormat);

    // Numbered 1, 2, ...; every record but the last live one done; a taken-back one last.
    const int count = c.records.size();
    for (int i = 0; i < count; ++i) {
        const records::JournalRecord& r = c.records[i];
        FUZZ_CHECK(r.number == i + 1 && c.find(i + 1) == &r);
        // Taken back after pulses went out only by a resume, which says so.
        FUZZ_CHECK(!r.takenBack ||
                   (i == count - 1 && !r.done && (r.pulsesNoted == 0 || r.underWay)));
        FUZZ_CHECK(!r.underWay || (r.takenBack && r.announced));
        FUZZ_CHECK(r.done || r.takenBack || i >= count - 2);
        FUZZ_CHECK(r.after.logSize >= 0 && r.after.rawSize >= 0);
    }
    FUZZ_CHECK(!c.find(0) && !c.find(count + 1));
    const records::JournalRecord* live = c.lastLive();
    FUZZ_CHECK(!live || !live->takenBack);
    FUZZ_CHECK(
        count == 0 || live == &c.records.last() ||
        (c.records.last().takenBack && (count == 1 ? !live : live == &c.records[count - 2])));
    (void)c.plan.totalPoints();

    // What is read writes back to the same journal, and the same bytes.
    const QByteArray written = records::journalToBytes(c);
    const std::optional<records::JournalContents> again = records::journalFromBytes(written);
    FUZZ_CHECK(again && fuzzsupport::sameJournal(*again, c));
    FUZZ_CHECK(records::journalToBytes(*again) == written);

    // A resume rebuilds the run's preset from the plan, or says why it can't.
    runner::PresetPlan preset;
    runner::Options options;
    if (!runner::presetFromJournal(c.plan, &preset, &options)) {
        FUZZ_CHECK(options.pulses == c.plan.pulsesPerPoint);
        FUZZ_CHECK(preset.plan.unitFactor == c.plan.unitFactor);
    }
    return 0;
}
