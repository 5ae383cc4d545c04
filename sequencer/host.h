// Everything the operation engine needs from the world around it. The desktop
// program implements it on its window (edit controls, window timer, WM_COMMAND
// to itself, message box), the command-line flasher on strings and its own
// clock, the tests on a script. The image-file reads have a default on the C
// run-time's descriptor calls that both programs use as they are.
#pragma once

#include <cstdint>
#include <string>

#include "serial/ttyinfo.h"

// What tells two versions of the image file apart besides their size. Fields
// the platform cannot tell stay 0.
struct ImageStamp {
    int64_t mtime = 0;    // seconds
    int64_t mtimeNs = 0;  // sub-second part, where the file system keeps one
    uint64_t device = 0;
    uint64_t inode = 0;
};

inline bool operator==(const ImageStamp& a, const ImageStamp& b) {
    return a.mtime == b.mtime && a.mtimeNs == b.mtimeNs && a.device == b.device &&
           a.inode == b.inode;
}

class SequencerHost {
public:
    virtual ~SequencerHost() = default;

    // Panes, by control id. SetPaneText replaces the whole text of EDIT_RECV,
    // EDIT_DEBUG or EDIT_STATUS; AppendPaneText adds at the end (EDIT_RECV);
    // PrependPaneLine puts the text and CR LF before the old text (EDIT_DEBUG).
    virtual void SetPaneText(int pane, const char* text) = 0;
    virtual void AppendPaneText(int pane, const char* text) = 0;
    virtual void PrependPaneLine(int pane, const char* text) = 0;

    // The text of the destination field EDIT_DEST.
    virtual std::string DestinationText() = 0;

    // The sequencer timer TIMER_ID, 5 ms period; starting replaces a running one.
    virtual void StartTimer() = 0;
    virtual void StopTimer() = 0;

    // The connection record; nullptr when there is none.
    virtual TTYInfo* Record() = 0;

    // Port control: non-zero when the port opened; the writer writes nothing
    // while the port is closed.
    virtual int Connect(TTYInfo& tty) = 0;
    virtual void Disconnect(TTYInfo& tty) = 0;
    virtual int Write(TTYInfo& tty, const uint8_t* bytes, int32_t len) = 0;

    // Issues a command (BTN_SEND, BTN_RESET_CAP) with notification code 0 and
    // returns when its handler has run. The handler may call back into the
    // engine: the desktop program sends WM_COMMAND to its own window.
    virtual void IssueCommand(int id) = 0;

    // The "Connection failed." warning, owned by the main window.
    virtual void ConnectionFailed() = 0;

    // Image file reads: open read-only and untranslated (a descriptor, or -1),
    // seek with SEEK_SET/SEEK_END (the new position, or -1), read (the count,
    // or -1), close, and the stamp of the open file.
    virtual int OpenImage(const char* path);
    virtual int64_t SeekImage(int fd, int64_t offset, int whence);
    virtual int32_t ReadImage(int fd, void* buf, int32_t n);
    virtual void CloseImage(int fd);
    virtual ImageStamp StampImage(int fd);
};
