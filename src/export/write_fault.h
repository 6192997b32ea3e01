// write_fault.h — a test's full disk in the export's file layer.
//
// Index
//   WriteFault       which write of which file fails, and with what error
//   ArmWriteFault    set it, counting from this call (nthWrite 0 turns it off)
//   WriteFaultHits   the writer's side: whether this write is the one to fail
//   WriteFailure / NoteWriteFailure / TakeWriteFailure
//                    why a file or folder of the export could not be made or written
//
// Every writer of the export (the broadcast WAV writers and the AAF
// session's compound file writer) writes its temporary file through one
// write routine, which asks WriteFaultHits with the fault it was given. An
// export's writers are given the one its context's observer carries
// (JobObserver::writeFault, through ExportJob::writeFault); the program
// never makes one, and a writer given none never fails on purpose.
#pragma once

#include <cerrno>
#include <mutex>
#include <string>

struct WriteFault {
    std::mutex mutex;  // writers on several threads share one fault
    int remaining = 0;
    int error = ENOSPC;
    std::string fileName;
    bool lasting = false;  // once it failed, every write fails (a full disk)
};

// Counting from this call, the nthWrite-th write to a file whose final name
// (last path component) is `fileName`, or to any file when that is empty,
// writes nothing and fails with `error`, as a full disk fails it; the writes
// before and after it go through, unless `lasting`: then that write and
// every one after it fail, as on a disk that filled up. nthWrite 0 turns it
// off. Any thread may call it.
void ArmWriteFault(WriteFault& fault, int nthWrite, int error, const std::string& fileName = "",
                   bool lasting = false);

// True (with errno set) when this write of the file named `fileName` is the
// one `fault` fails; false without a fault (null).
bool WriteFaultHits(WriteFault* fault, const std::string& fileName);

// Why a file (or a folder) of the export could not be made or written: its
// path and the system's error number. The writers and the folder routine
// note it where they meet the failure, as the system notes errno; the pass
// that called them takes it when it counts the file lost, so that the
// export's final text can say why. Kept per thread: the first failure noted
// since the last take stays (a later one is its consequence).
struct WriteFailure {
    std::string path;
    int error = 0;        // 0: nothing noted
    bool folder = false;  // the path is a folder that could not be made or opened
    std::string problem;  // what the drive lacks, said as such ("" : the error says it)
};
void NoteWriteFailure(const std::string& path, int error, bool folder = false, const std::string& problem = "");
// The failure noted on this thread since the last take (error 0: none), cleared.
WriteFailure TakeWriteFailure();
