#pragma once
// The whole picture smoothly scaled for the overview: made once per size
// and kept. While the picture still decodes it is made from an early copy,
// within a few levels of the final one except at sharp edges, and made
// exactly on the decoder's thread once the picture is whole.
#include "picture_source.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace korvane {

class ScaledOverview {
public:
    // What the reduced copy given is (its view may be null): the picture
    // averaged over blocks; an early copy of a picture handed over while
    // it decodes, given up once the picture is whole; or, for a picture
    // too large to read whole, the copy every size is scaled from.
    enum class Reduced { Averages, EarlyCopy, OnlyCopy };
    // The source must be stopped before this goes.
    ScaledOverview(PictureSource& source, HeldPixels reduced, Reduced kind);
    // A copy that grows as the picture is read, until the source is
    // complete: the copy so far (white where not read yet), and a count
    // that grows with it. `kind`: OnlyCopy, for a picture read in tiles;
    // or EarlyCopy, for one handed over while it decodes, whose exact
    // overview is made once it is whole.
    struct Growing {
        std::function<HeldPixels()> soFar;
        std::function<long long()> growth;
    };
    ScaledOverview(PictureSource& source, Growing growing, Reduced kind = Reduced::OnlyCopy);
    ScaledOverview(const ScaledOverview&) = delete;
    ScaledOverview& operator=(const ScaledOverview&) = delete;

    using Scaled = std::shared_ptr<const PanelPixels>;
    Scaled scaledTo(int width, int height);
    // The overview at that size made before it is asked for, beside the
    // program's start-up: a picture held whole on one core, so that the
    // other is left to the start-up; one still decoding, its early
    // overview, and its exact one at that size once it is whole.
    void makeAhead(int width, int height);
    // Every row is decoded, and the overview made from them (always, for a
    // picture loaded whole).
    bool isComplete() const;
    // Runs `callback` once complete: on the decoder's thread, or at once.
    void whenComplete(std::function<void()> callback);

private:
    PanelPixels scaledFrom(const PixelView& reduced, int width, int height, bool twoCores = true) const;
    PanelPixels scaledWhole(int width, int height, bool twoCores) const;
    void makeExact();
    void takeGrowth();
    // Whether the copy grows for as long as the source reads (no exact
    // overview follows).
    bool onlyGrows() const { return m_growing.soFar && !m_filling; }

    PictureSource& m_source;
    HeldPixels m_reduced;
    const bool m_onlyCopy;
    const bool m_filling; // handed over while it decodes
    Scaled m_scaled;      // the last size asked for: the overview asks for one
    Scaled m_provisional; // from the early copy, while the picture decodes
    mutable std::mutex m_mutex; // for what follows, shared with the decoder's thread
    int m_wantedWidth = 0, m_wantedHeight = 0;
    bool m_exactPending = false;
    std::vector<std::function<void()>> m_whenExact;
    Scaled m_exact;
    const Growing m_growing; // empty but for a growing copy
    long long m_grownTo = -1;
    bool m_grown = false; // the final copy is taken
};

} // namespace korvane
