// The panels that show decoded groups: the "Bloc A/B" header, one panel per
// group type that has one (0, 1, 2, 3, 4A, 8A, 14), the raw-block panel for
// every other type and the four display lines.
//
// Each show*() draws one record at once. While a text is decoded the window
// notes each group instead (note()) and draws what they leave once per
// redraw (apply()): nothing is painted in between, so the panels look the
// same as if every group had been shown, and a long recording decodes at the
// decoder's speed.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "frame_processor.h"
#include "main_layout.h"
#include "station_texts.h"
#include "tmc_locations.h"

namespace varnak {

class GroupPanels {
public:
    // The decoder's descriptor texts, or nullptr while the library cannot be
    // loaded (the fields stay empty then).
    using ApiSource = std::function<const MurlinApi*()>;

    // Draws into `widgets`, which outlive this; `paletteSource` gives the face
    // colour of a dimmed panel.
    GroupPanels(const GroupPanelWidgets& widgets, const QWidget& paletteSource, ApiSource api);

    // North American programme-type names (RBDS) instead of the European ones.
    void setRbds(bool on) { rbds_ = on; }
    // Names TMC locations from this table (none: numbers only).
    void setTmcLocations(std::optional<rdsformats::TmcLocationTable> table) { tmcTable_ = std::move(table); }

    // One panel on or off (the group types without one are ignored), and the
    // raw-block panel. Drawn at once.
    void setPanelState(int group, bool on);
    void setRawState(bool on);
    // Empties every group panel's values; the header stays.
    void clearValues();
    // Empties the display lines (a run begins).
    void clearLines();

    void showHeader(const DecoderState& r);      // Bloc A/B: PI, group type and version, TP, PTY
    void showBasic(const DecoderState& r);       // GRP 00: DI, PS, TA, MS, alternative frequencies
    void showSlowLabels(const DecoderState& r);  // GRP 01: RPC, PIN, SLC
    void showRadioText(const DecoderState& r);   // GRP 02: RadioText A and B, text A/B flag
    void showOda(const DecoderState& r);         // GRP 03: open data application
    void showClock(const DecoderState& r);       // GRP 04A: clock time
    void showTmc(const DecoderState& r);         // GRP 08A: traffic message
    void showEon(const DecoderState& r);         // GRP 14: other networks
    // `name` follows the type in the title ("GRP 12 eRT"); `content`, the
    // decoded text, is the panel's tool tip.
    void showRawBlocks(int type, const uint16_t (&words)[4], const QString& name = {}, const QString& content = {});

    // Notes every status word: whether the blocks of the group to come
    // were repaired decides how sure its characters are.
    void noteStatus(uint16_t status, bool sure = false) { quality_.onStatus(status, sure); }
    // Notes what a decoded group leaves on the panels: which panels are on,
    // and their records. Draws nothing.
    void note(const DecodedGroup& group);
    // The station's texts with their confidence, from the groups noted.
    const rdsformats::StationTexts& texts() const { return texts_; }
    // Switches the panels as noted.
    void applyStates();
    // Draws everything noted since the last call, and the panel states.
    void apply();

private:
    // Message fields come with a single-group message and with the first
    // group of a multi-group user message only.
    static bool CarriesTmcMessage(const DecoderState& r);
    QString describe(const char* (*MurlinApi::*lookup)(int32_t), int code) const;
    void drawPanelState(int group, bool on);
    void drawRawState(bool on);

    // What the groups since the last redraw leave on the panels.
    struct Pending {
        bool group = false;  // any group at all
        std::string lines[4];
        DecoderState header{};
        bool clear = false;   // a new PI: empty the panels first
        uint32_t panels = 0;  // bit per group type with a record below
        std::array<DecoderState, 16> records{};
        bool tmcMessage = false, tmcEvent = false;
        DecoderState tmcMessageRecord{}, tmcEventRecord{};
        bool raw = false;
        int rawType = 0;
        uint16_t rawWords[4] = {};
        QString rawName, rawContent;  // what the station's applications make of it
    };

    const GroupPanelWidgets& w_;
    const QWidget& paletteSource_;
    ApiSource api_;
    bool rbds_ = false;
    QString eventText_;  // the event description shown
    int shownGroupType_ = 0;
    int shownPi_ = 0;
    Pending pending_;
    rdsformats::BlockQuality quality_;
    rdsformats::StationTexts texts_;
    std::optional<rdsformats::TmcLocationTable> tmcTable_;
    // Panel states wanted and shown: -1 none yet, 0 off, 1 on.
    std::array<int8_t, 16> panelWanted_{}, panelShown_{};
    int8_t rawWanted_ = -1, rawShown_ = -1;
};

}  // namespace varnak
