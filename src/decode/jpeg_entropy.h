#pragma once
// A baseline JPEG without restart markers has one entropy-coded stream from
// its first MCU to its last: a row of MCUs can only be decoded by whoever
// knows where its bits begin and what the DC predictors are there. One pass
// of Huffman decoding (the coefficients' values skipped, not kept) notes
// both at the start of every MCU row. A band of rows is then given to
// libjpeg as a JPEG of its own: a made-up first MCU row whose DC
// differences bring each predictor to its value at the band's start, then
// the band's own bits, moved to follow it. libjpeg still does the decoding,
// the IDCT and the upsampling; libjpeg-turbo offers no way to enter a
// stream in its middle, so the pass and the made-up row are our own.
#include <sys/types.h>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace korvane {

// A Huffman table as its DHT segment gives it: the count of codes of each
// length 1..16 (bits[0] unused), then the symbols in code order.
struct HuffmanTable {
    std::array<std::uint8_t, 17> bits {};
    std::array<std::uint8_t, 256> values {};
};

// What the pass needs of the scan: its MCUs and, for each component in
// scan order, the blocks it has in an MCU and its tables.
struct EntropyLayout {
    int mcusPerRow = 0, mcuRows = 0;
    struct Component {
        int blocks = 1; // horizontal x vertical sampling factor
        int dcTable = 0, acTable = 0;
        int horizontal = 1, vertical = 1; // its blocks across and down an MCU
        int dcStep = 0;                   // its quantization table's first entry
    };
    std::vector<Component> components;
    std::array<HuffmanTable, 4> dc, ac; // by table number
    // For the overview's pass at 1/8 from the DC values alone (0: none):
    // the picture's width at 1/8, and whether 3 components are YCbCr.
    int eighthWidth = 0;
    bool ycc = true;
};

// Where an MCU row's data begins: the file's byte holding its first bit,
// the bits of that byte already used by the row before, and each
// component's DC predictor.
struct EntropyPoint {
    off_t byte = 0;
    int usedBits = 0;
    std::array<int, 4> dc {};
};

class EntropyIndex {
public:
    // Null when the tables cannot make the first row a band needs (no code
    // for a DC difference of 0 or 1, or for the end of a block).
    static std::unique_ptr<EntropyIndex> make(const EntropyLayout& layout);

    // One pass from the scan's first byte, on a thread of its own, so that
    // bands already passed can be decoded meanwhile. Every MCU row the file
    // holds gets its point, and one more point marks where the data ends;
    // a file cut short (or damaged) has points only for the rows before.
    void start(int fd, off_t from, off_t fileBytes);
    // Waits until rows [0, end) have their points and the point after
    // them, or the pass has ended without them; the rows that have.
    int waitForRows(int end) const;
    // Whether waitForRows(end) would return at once.
    bool hasRows(int end) const;
    // Ends the pass where it is.
    void cancel() { m_pass.request_stop(); }

    // MCU rows [first, end) as entropy-coded data on their own: the made-up
    // row (when `first` is not the picture's first), then theirs, padded
    // to a byte and stuffed. Empty when the file cannot be read or the
    // pass has not found those rows.
    std::vector<std::uint8_t> bandData(int fd, int first, int end) const;

    // MCU rows [first, end) at 1/8, each pixel its block's DC value (its
    // mean), colour converted as libjpeg does, into `out`: the pass keeps
    // the DC values it decodes for rows the overview's pass has not taken
    // yet, and this takes them. False when it has not kept them (the pass
    // found no such rows, or held too many for the overview's pass).
    // `rows` of them (those the band has at 1/8), `channels` a pixel.
    bool takeEighths(int first, int end, std::uint8_t* out, std::size_t stride, int channels, int rows) const;
    // The most the index keeps: its points, and DC values not taken yet.
    std::size_t mostBytes() const;

    ~EntropyIndex();
    EntropyIndex(const EntropyIndex&) = delete;
    EntropyIndex& operator=(const EntropyIndex&) = delete;

private:
    struct Tables;
    explicit EntropyIndex(const EntropyLayout& layout, std::unique_ptr<Tables> tables);
    void scan(int fd, off_t from, off_t fileBytes, const std::stop_token& stop);
    void add(const EntropyPoint& point);
    bool foundRows(int end) const;
    void keepDc(int row, std::vector<std::int16_t> values);
    EntropyPoint pointAt(int row) const;

    const EntropyLayout m_layout;
    std::unique_ptr<Tables> m_tables;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_added;
    std::vector<EntropyPoint> m_points; // appended by the pass
    bool m_scanned = false;
    // Each MCU row's DC values in block order, until taken.
    mutable std::vector<std::vector<std::int16_t>> m_dcRows;
    mutable std::size_t m_dcBytes = 0;
    std::jthread m_pass; // last: stopped and joined first
};

} // namespace korvane
