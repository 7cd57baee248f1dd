#pragma once

// The live picture for the video window. The capture pipeline's preview branch ends in a sink
// made here: it converts to 32-bit RGB at the size the video takes in the window and keeps only
// the newest picture. The GUI thread paints that picture; a new one never waits for the paint,
// and the GUI thread is asked to repaint at most once per picture it has not painted yet.

#include <QImage>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>

typedef struct _GstElement GstElement;

namespace gardivo {

class PreviewFrames {
public:
    PreviewFrames() = default;
    ~PreviewFrames();
    PreviewFrames(const PreviewFrames&) = delete;
    PreviewFrames& operator=(const PreviewFrames&) = delete;

    // A new sink for a preview branch (the capture side makes one per pipeline it builds).
    GstElement* makeSink();
    // The size pictures are scaled to; 0 x 0 keeps the source's size.
    void setSize(int width, int height);
    // The newest picture (null before the first).
    QImage latest() const;
    uint64_t frameCount() const { return m_frames.load(); }
    // Called on a streaming thread when a picture arrives and the previous one has been taken.
    void setOnFrame(std::function<void()> onFrame);
    // The painter took the newest picture; the next one asks for a repaint again.
    void painted() { m_pending = false; }
    // A picture from the stream (the sink's callback).
    void store(QImage picture);
    // A picture of that size, filled by fill: one that nothing shows any more where there is one,
    // so that a frame costs no allocation. Null when no picture of that size can be made.
    QImage fillPicture(int width, int height, const std::function<void(QImage&)>& fill);

private:
    void applySize();

    mutable std::mutex m_mutex;
    QImage m_latest;
    std::mutex m_poolMutex;
    std::array<QImage, 3> m_pool;
    size_t m_nextPoolSlot = 0;
    std::function<void()> m_onFrame;
    std::atomic<uint64_t> m_frames{0};
    std::atomic<bool> m_pending{false};
    int m_width = 0;
    int m_height = 0;
    GstElement* m_caps = nullptr; // the newest sink's size filter, with a reference of ours
};

} // namespace gardivo
