#include "delivery/print_jobs.h"

#include "base/state.h"
#include "delivery/queue_handle.h"

#include <lmcons.h>

#include <algorithm>

namespace {

// "Submitted" is the spooler's UTC time of the job's arrival, which it
// keeps to the millisecond or coarser: `since` is taken to its whole second,
// so that a job from the same instant is not counted as older.
bool submittedNotBefore(const SYSTEMTIME &submitted, const FILETIME &since)
{
    SYSTEMTIME start;
    FILETIME startSecond, time;
    if (!FileTimeToSystemTime(&since, &start))
        return false;
    start.wMilliseconds = 0;
    return SystemTimeToFileTime(&start, &startSecond) && SystemTimeToFileTime(&submitted, &time) &&
           CompareFileTime(&time, &startSecond) >= 0;
}

bool sameText(const WCHAR *text, const WCHAR *other)
{
    return text != nullptr && other[0] != L'\0' && CompareStringOrdinal(text, -1, other, -1, TRUE) == CSTR_EQUAL;
}

// COPY writes the file through the queue's share, and the spooler makes a
// job of what arrives there: it has no document name of its own, so Windows
// gives it the name it gives every such job ("Remote Downlevel Document" on
// an English Windows; a translated Windows may translate it), and its data
// go to the printer as they came (RAW). A document the same user prints from
// a program meanwhile has its own name and usually a driver's data type.
QueueJob describe(const JOB_INFO_2W &job, const WCHAR *user, const FILETIME *since)
{
    QueueJob described = {job.JobId, false, false, job.Size, job.Status};
    described.thisUsersSince = since && sameText(job.pUserName, user) && sameText(job.pDatatype, L"RAW") &&
                               submittedNotBefore(job.Submitted, *since);
    described.copyNamed = sameText(job.pDocument, L"Remote Downlevel Document");
    return described;
}

}  // namespace

bool enumerateJobs(HANDLE printer, DWORD level, GlobalBuffer &buffer, DWORD &returned)
{
    // The queue can gain a job between the size probe and the fill: the
    // fill then asks for more room, and the probe is made again, a few times.
    returned = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD needed = 0;
        SetLastError(0);
        if (EnumJobsW(printer, 0, 0xFFFFFFFF, level, nullptr, 0, &needed, &returned)) {
            returned = 0;
            return true;  // no jobs
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0)
            return false;
        buffer.reset(GlobalAlloc(GMEM_ZEROINIT, needed));
        if (!buffer)
            return false;
        if (EnumJobsW(printer, 0, 0xFFFFFFFF, level, static_cast<BYTE *>(buffer.get()), needed, &needed, &returned))
            return true;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
    }
    return false;
}

bool listQueueJobs(HANDLE printer, std::vector<QueueJob> &jobs, const FILETIME *since)
{
    jobs.clear();
    WCHAR user[UNLEN + 1] = L"";
    DWORD userCapacity = ARRAYSIZE(user);
    if (since && !GetUserNameW(user, &userCapacity))
        user[0] = L'\0';  // no job can then be told to be this user's
    GlobalBuffer buffer;
    DWORD returned = 0;
    if (!enumerateJobs(printer, 2, buffer, returned))
        return false;
    const auto *infos = static_cast<const JOB_INFO_2W *>(buffer.get());
    for (DWORD i = 0; i < returned; ++i)
        jobs.push_back(describe(infos[i], user, since));
    return true;
}

JobRemoval::Result deleteJob(HANDLE printer, DWORD id)
{
    if (SetJobW(printer, id, 0, nullptr, JOB_CONTROL_DELETE))
        return JobRemoval::Removed;
    // The spooler knows no such job: it has gone, and nothing of it is left.
    const DWORD error = GetLastError();
    return error == ERROR_INVALID_PARAMETER ? JobRemoval::Gone : JobRemoval::NotDeleted;
}

DWORD jobsAddedSince(const std::vector<QueueJob> &jobs, const std::vector<DWORD> &before,
                     std::vector<QueueJob> &candidates)
{
    DWORD added = 0;
    candidates.clear();
    for (const QueueJob &job : jobs) {
        if (std::find(before.begin(), before.end(), job.id) != before.end())
            continue;
        ++added;
        if (job.thisUsersSince)
            candidates.push_back(job);
    }
    return added;
}

void noteJobsBeforeCopy()
{
    upgradeState.jobsBeforeCopy.clear();
    // Listing and deleting one's own jobs needs no more than the right to
    // print; the copies are the user's own jobs.
    PrinterHandle printer = openSelectedQueue(PRINTER_ACCESS_USE);
    std::vector<QueueJob> listed;
    upgradeState.jobsNoted = printer && listQueueJobs(printer.get(), listed, nullptr);
    for (const QueueJob &job : listed)
        upgradeState.jobsBeforeCopy.push_back(job.id);
    // After the list: a job that arrives between the two is not in the list
    // and was submitted before the copy began, so it is not the copy's.
    GetSystemTimeAsFileTime(&upgradeState.copyStart);
}

JobRemoval removeOwnJobAddedSince(const std::vector<DWORD> &before, const FILETIME &copyStart)
{
    JobRemoval removal = {JobRemoval::Unlisted, 0, 0};
    // One handle for the list and the deletion, so that the job deleted is
    // the one that was listed.
    PrinterHandle printer = openSelectedQueue(PRINTER_ACCESS_USE);
    std::vector<QueueJob> now;
    if (!printer || !listQueueJobs(printer.get(), now, &copyStart))
        return removal;
    std::vector<QueueJob> candidates;
    removal.added = jobsAddedSince(now, before, candidates);
    // A document that cannot be told from the copy's by more than a guess
    // is not the tool's to delete: then nothing is.
    if (removal.added == 0) {
        removal.result = JobRemoval::NoneAdded;
        return removal;
    }
    removal.job = onlyJobThat(candidates, [](const QueueJob &job) { return job.copyNamed; });
    if (removal.job == 0) {
        const bool any = std::any_of(candidates.begin(), candidates.end(),
                                     [](const QueueJob &job) { return job.copyNamed; });
        removal.result = any ? JobRemoval::Several : JobRemoval::NoneOwn;
        return removal;
    }
    removal.result = deleteJob(printer.get(), removal.job);
    return removal;
}
