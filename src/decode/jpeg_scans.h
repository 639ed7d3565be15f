#pragma once
// A JPEG in several scans (progressive, or sequential with its components
// in scans of their own) spreads each block's coefficients over all of
// them: no row is final before the last scan has passed it, and libjpeg
// holds every coefficient of the picture (2 bytes a sample) to decode it.
// One pass of Huffman decoding of our own notes, in each scan (each on a
// thread of its own, a row behind the scans it depends on, all going down
// the picture together), where each row of MCUs begins (the byte and bit,
// the DC predictors, the end-of-band run), keeping only which coefficients
// are not zero yet (8 bytes a block: a refinement scan's bits depend on
// them) and the DC values (for the overview). A band's coefficients are then gathered scan by scan from
// those points and written by libjpeg as a baseline JPEG of their own,
// which libjpeg decodes as any other band: libjpeg-turbo can neither
// enter a scan in its middle nor turn coefficients of ours into pixels.
#include <sys/types.h>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace korvane {

// The frame as the file's header gives it.
struct ScanFrame {
    int width = 0, height = 0;
    bool progressive = true;
    int colourSpace = 0; // the file's own, as libjpeg names it (J_COLOR_SPACE)
    struct Component {
        int id = 0, horizontal = 1, vertical = 1;
        std::array<std::uint16_t, 64> quantization {}; // in natural order
    };
    std::vector<Component> components;
    // For the overview's pass at 1/8 from the DC values alone (0: none):
    // the picture's width at 1/8, and whether 3 components are YCbCr.
    int eighthWidth = 0;
    bool ycc = true;
};

class ScanIndex {
public:
    // Null when the frame is not one this reads (other than 1 or 3
    // components, sampling factors beyond 4) or its index would take more
    // than `mostBytes`.
    static std::unique_ptr<ScanIndex> make(const ScanFrame& frame, std::size_t mostBytes);

    // Reads the file's segments from its start, on a thread of its own.
    void start(int fd, off_t fileBytes);
    // Waits until MCU rows [0, end) are final: every scan of the file has
    // passed them (every DC scan, for `dcOnly`), or the pass has ended; the
    // rows that are (none when the file has no scan).
    int waitForRows(int end, bool dcOnly = false) const;
    // Whether waitForRows(end) would return at once.
    bool hasRows(int end) const;
    // Ends the pass where it is: the scans' rows not reached have no data.
    void cancel() { m_stop.request_stop(); }
    int mcuHeight() const { return 8 * m_mostDown; }
    // What the index of the blocks keeps, the scans' points aside.
    std::size_t blockBytes() const { return m_blockBytes; }

    // MCU rows [first, end) as a baseline JPEG of their own; empty when
    // the file found no scan or libjpeg cannot write the coefficients.
    std::vector<std::uint8_t> bandJpeg(int fd, int first, int end) const;

    // MCU rows [first, end) at 1/8, each pixel its block's DC value (its
    // mean), colour converted as libjpeg does, `rows` of them into `out`,
    // `channels` a pixel. Waits until every DC scan has passed the rows
    // (or the pass has ended).
    bool takeEighths(int first, int end, std::uint8_t* out, std::size_t stride, int channels, int rows) const;

    ~ScanIndex();
    ScanIndex(const ScanIndex&) = delete;
    ScanIndex& operator=(const ScanIndex&) = delete;

private:
    struct Scan;
    struct Grid;
    explicit ScanIndex(const ScanFrame& frame);
    // Finds the scans and the tables they use, ahead of their decoding.
    void walk(int fd, off_t fileBytes);
    bool rowsFinal(int end, bool dcOnly) const;
    // Indexes the scans found, one at a time, until there are no more.
    void work(int fd, off_t fileBytes);
    void indexScan(Scan& scan, int fd, off_t fileBytes, const std::stop_token& stop);
    int slowestRow() const; // of the scans being decoded, with the mutex held

    const ScanFrame m_frame;
    off_t m_fileBytes = 0;
    int m_mostAcross = 1, m_mostDown = 1, m_mcusPerRow = 0, m_mcuRows = 0;
    std::size_t m_blockBytes = 0;
    std::vector<std::vector<std::int16_t>> m_dc; // each component's blocks' DC values
    std::vector<Grid> m_grids;                   // for the pass alone
    mutable std::mutex m_mutex;
    mutable std::condition_variable_any m_changed;
    std::vector<std::unique_ptr<Scan>> m_scans;
    std::size_t m_nextScan = 0; // the next scan a worker takes
    int m_workersLeft = 0;
    bool m_walked = false, m_passed = false;
    std::stop_source m_stop;
    std::vector<std::jthread> m_workers; // started by the walk
    std::jthread m_walk;                 // last: joined first
};

} // namespace korvane
