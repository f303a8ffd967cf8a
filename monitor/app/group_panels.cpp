#include "group_panels.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QWidget>

#include <algorithm>
#include <utility>

#include "field_format.h"
#include "oda_names.h"
#include "rbds.h"
#include "rds_charset.h"
#include "widgets.h"

namespace varnak {
namespace {

const QColor kPanelActive(255, 255, 224);
const QColor kRowActive(255, 255, 192);  // raw-block row caption
const QColor kCaptionActive(255, 0, 0);
const QColor kCaptionInactive(0, 0, 0);

template <std::size_t N>
QString Text(const char (&field)[N])
{
    return FieldText(field, static_cast<int>(N));
}

// Draws bytes 0..n of `t` into `label`: as plain text once every character
// is confirmed, else as rich text with the provisional characters in a
// colour halfway to the background and the missing ones as spaces.
void ShowConfident(ColourLabel* label, const rdsformats::ConfidentText& t, std::size_t n)
{
    bool allConfirmed = true;
    for (std::size_t i = 0; i < n; ++i) allConfirmed = allConfirmed && t.state(i) == rdsformats::CharState::Confirmed;
    if (allConfirmed) {
        label->setCaption(QString::fromStdString(rdsformats::RdsTextUtf8(t, n)));
        return;
    }
    const QPalette& pal = label->palette();
    const QColor ink = pal.color(QPalette::WindowText), paper = pal.color(QPalette::Window);
    const QColor dim((ink.red() + paper.red()) / 2, (ink.green() + paper.green()) / 2, (ink.blue() + paper.blue()) / 2);
    QString html;
    bool dimmed = false;
    for (std::size_t i = 0; i < n; ++i) {
        const bool provisional = t.state(i) != rdsformats::CharState::Confirmed;
        if (provisional != dimmed) {
            html +=
                provisional ? QStringLiteral("<span style=\"color:%1\">").arg(dim.name()) : QStringLiteral("</span>");
            dimmed = provisional;
        }
        const char32_t u = t.state(i) == rdsformats::CharState::Missing ? U' ' : rdsformats::RdsToUnicode(t.byte(i));
        if (u == U' ')
            html += QStringLiteral("&nbsp;");
        else if (u)
            html += QString::fromUcs4(&u, 1).toHtmlEscaped();
        else
            html += QString::fromUtf8(rdsformats::kPlaceholder.data(),
                                      static_cast<qsizetype>(rdsformats::kPlaceholder.size()));
    }
    if (dimmed) html += QStringLiteral("</span>");
    label->setCaption(html);
}

// What the station's applications and the newer features make of a group
// without a panel: a short name and the decoded content, or nothing.
std::pair<QString, QString> Explain(const rdsformats::StationTexts& t, int type, int version)
{
    const auto wide = [](const rdsformats::ConfidentText& text, bool ucs2) {
        return QString::fromStdString(rdsformats::DecodeWideText(text, ucs2).text);
    };
    const uint16_t aid = t.oda().aidOf(type, version);
    if (type == 15 && version == 0 && aid == 0) return {QStringLiteral("Long PS"), wide(t.longPs(), false)};
    if (aid == 0) return {};
    const char* name = rdsformats::OdaName(aid);
    const QString label = name ? QString::fromUtf8(name) : QStringLiteral("ODA ") + HexZ(aid, 4);
    if (aid == rdsformats::kAidErt) return {label, wide(t.enhancedRadiotext(), t.ertUcs2())};
    if (aid == rdsformats::kAidDab) {
        QString content;
        if (const auto& e = t.dab().ensemble())
            content = QStringLiteral("Ensemble %1 on %2 MHz, mode %3")
                          .arg(HexZ(e->eid, 4))
                          .arg(e->frequencyKhz / 1000.0, 0, 'f', 3)
                          .arg(QString::fromLatin1(rdsformats::DabCrossReference::ModeName(e->mode)));
        if (const auto& v = t.dab().service())
            content += (content.isEmpty() ? QString() : QStringLiteral("; ")) +
                       QStringLiteral("service %1 in ensemble %2").arg(HexZ(v->sid, 4), HexZ(v->eid, 4));
        return {label, content};
    }
    return {label, QString()};
}

}  // namespace

GroupPanels::GroupPanels(const GroupPanelWidgets& widgets, const QWidget& paletteSource, ApiSource api)
    : w_(widgets), paletteSource_(paletteSource), api_(std::move(api))
{
    panelWanted_.fill(-1);
    panelShown_.fill(-1);
}

// ---------------------------------------------------------------------------
// Panel states

void GroupPanels::setPanelState(int group, bool on)
{
    if (group < 0 || group >= 16 || !w_.frames[group]) return;
    panelWanted_[group] = on ? 1 : 0;
    applyStates();
}

void GroupPanels::setRawState(bool on)
{
    rawWanted_ = on ? 1 : 0;
    applyStates();
}

void GroupPanels::applyStates()
{
    for (int g : kPanelGroups)
        if (panelWanted_[g] >= 0 && panelWanted_[g] != panelShown_[g]) drawPanelState(g, panelWanted_[g] == 1);
    if (rawWanted_ >= 0 && rawWanted_ != rawShown_) drawRawState(rawWanted_ == 1);
}

void GroupPanels::drawPanelState(int g, bool on)
{
    panelShown_[g] = on ? 1 : 0;
    const QColor colour = on ? kPanelActive : paletteSource_.palette().color(QPalette::Button);
    PanelFrame* f = w_.frames[g];
    f->setEnabled(on);
    f->setBackground(colour);
    f->setCaptionColour(on ? kCaptionActive : kCaptionInactive);
    for (const PanelRow& r : w_.rows[g]) {
        r.caption->setEnabled(on);
        for (ColourLabel* v : r.values) v->setEnabled(on);
        r.caption->setBackground(colour);
    }
    if (g == 8) {
        w_.tmcEventText->setEnabled(on);
        w_.tmcDurationText->setEnabled(on);
    }
}

void GroupPanels::drawRawState(bool on)
{
    rawShown_ = on ? 1 : 0;
    const QColor colour = on ? kRowActive : paletteSource_.palette().color(QPalette::Button);
    w_.raw->setEnabled(on);
    for (int i = 0; i < 4; ++i) {
        w_.rawCaptions[i]->setEnabled(on);
        w_.rawWords[i]->setEnabled(on);
        w_.rawCaptions[i]->setBackground(colour);
        w_.rawChars[i]->setEnabled(on);
    }
}

void GroupPanels::clearValues()
{
    for (int g : kPanelGroups)
        for (const PanelRow& r : w_.rows[g])
            for (ColourLabel* v : r.values) v->setCaption(QString());
    eventText_.clear();
    w_.tmcEventText->clear();
    w_.tmcDurationText->clear();
}

void GroupPanels::clearLines()
{
    texts_.clear();
    quality_ = rdsformats::BlockQuality{};
    for (ColourLabel* l : w_.lines) l->setCaption(QString());
}

// ---------------------------------------------------------------------------
// Records

QString GroupPanels::describe(const char* (*MurlinApi::*lookup)(int32_t), int code) const
{
    const MurlinApi* api = api_();
    return api ? QString::fromLatin1(StrFromPtr((api->*lookup)(code))) : QString();
}

void GroupPanels::showHeader(const DecoderState& r)
{
    w_.pi->setCaption(Hex(r.pi));
    w_.groupType->setCaption(Dec(r.groupType, 2));
    w_.groupVersion->setCaption(LetterAB(r.groupVersion));
    w_.tp->setCaption(FlagNY(r.tp));
    w_.pty->setCaption(Dec(r.pty, 2));
    w_.ptyName->setCaption(rbds_ ? QString::fromLatin1(rdsformats::RbdsPtyName(r.pty))
                                 : describe(&MurlinApi::RDSPTYDesc, r.pty));
}

void GroupPanels::showBasic(const DecoderState& r)
{
    w_.ta->setCaption(FlagNY(r.ta));
    w_.ms->setCaption(FlagNY(r.ms));
    w_.di->setCaption(DiText(r.di));
    if (texts_.ps().any())
        ShowConfident(w_.ps, texts_.ps(), 8);
    else
        w_.ps->setCaption(Text(r.ps));
    // A dynamic PS: the names it went through, as the tool tip.
    QString sequence;
    if (texts_.dynamicPs()) {
        sequence = QStringLiteral("Dynamic PS:");
        for (const std::string& name : texts_.psSequence())
            sequence += QStringLiteral("\n") + QString::fromStdString(name);
    }
    if (w_.ps->toolTip() != sequence) w_.ps->setToolTip(sequence);
    w_.afCount->setCaption(QString::number(r.afCount));
    for (int i = 0; i < 25; ++i) w_.af[i]->setCaption(Freq(r.afList[i]));
}

void GroupPanels::showSlowLabels(const DecoderState& r)
{
    w_.rpc->setCaption(HexZ(r.rpc, 2));
    w_.slc->setCaption(HexZ(r.slc, 4));
    w_.pin->setCaption(HexZ(r.pin, 4));
}

void GroupPanels::showRadioText(const DecoderState& r)
{
    w_.textAB->setCaption(FlagNY(r.textAB));
    if (texts_.radiotext(0).any() || texts_.radiotext(1).any()) {
        ShowConfident(w_.radioTextA, texts_.radiotext(0), texts_.radiotext(0).length());
        ShowConfident(w_.radioTextB, texts_.radiotext(1), texts_.radiotext(1).length());
    } else {
        w_.radioTextA->setCaption(Text(r.radioText));
        w_.radioTextB->setCaption(Text(r.radioTextB));
    }
}

void GroupPanels::showOda(const DecoderState& r)
{
    w_.odaGroupType->setCaption(Dec(r.odaGroupType, 2));
    w_.odaGroupVersion->setCaption(LetterAB(r.odaGroupVersion));
    w_.odaMessage->setCaption(Hex4s(r.odaMessage));
    w_.odaAid->setCaption(Hex4s(r.odaAid));
    w_.odaAid->setToolTip(QString::fromStdString(rdsformats::OdaLabel(r.odaAid)));
}

void GroupPanels::showClock(const DecoderState& r) { w_.clockTime->setCaption(Text(r.clockText)); }

bool GroupPanels::CarriesTmcMessage(const DecoderState& r)
{
    return r.tmcF == 1 || (r.tmcT == 0 && r.tmcF == 0 && r.tmcD == 1);
}

void GroupPanels::showTmc(const DecoderState& r)
{
    w_.tmcD->setCaption(Dec(r.tmcD, 1));
    w_.tmcDP->setCaption(QString::number(r.tmcDP));
    w_.tmcF->setCaption(r.tmcF == 0 ? QStringLiteral("M") : QStringLiteral("S"));
    w_.tmcT->setCaption(r.tmcT == 0 ? QStringLiteral("U") : QStringLiteral("T"));
    w_.tmcPN->setCaption(r.tmcPN == 0 ? QStringLiteral("+") : QStringLiteral("-"));
    if (!CarriesTmcMessage(r)) return;
    w_.tmcExtent->setCaption(Dec(r.tmcExtent, 1));
    w_.tmcEvent->setCaption(Dec(r.tmcEvent, 4));
    w_.tmcLocation->setCaption(Dec(static_cast<uint32_t>(IntegerToUnsigned(static_cast<int16_t>(r.tmcLocation))), 5));
    if (r.tmcEvent != 0) {
        QString event = describe(&MurlinApi::RDSEVTDesc, r.tmcEvent);
        // The message put together from its groups fills in its quantifier.
        const rdsformats::TmcMessage* whole = texts_.tmc().recent(r.tmcEvent, r.tmcLocation);
        if (whole && whole->quantifier) {
            const auto quantity =
                rdsformats::TmcQuantifierText(rdsformats::TmcQuantifierType(whole->event), *whole->quantifier);
            event = QString::fromStdString(rdsformats::TmcFillQuantity(event.toStdString(), quantity));
        }
        if (tmcTable_)
            if (const auto place = tmcTable_->place(r.tmcLocation, r.tmcPN != 0, r.tmcExtent))
                event += QStringLiteral("\n") + QString::fromStdString(rdsformats::TmcPlaceText(*place, r.tmcPN != 0));
        if (event != eventText_ || w_.tmcEventText->document()->isEmpty() != event.isEmpty()) {
            eventText_ = event;
            w_.tmcEventText->setPlainText(event);
        }
        const QString duration = describe(&MurlinApi::RDSDPDesc, r.tmcDP);
        if (duration != w_.tmcDurationText->text()) w_.tmcDurationText->setText(duration);
    }
}

void GroupPanels::showEon(const DecoderState& r)
{
    w_.eonPi->setCaption(Hex(r.eonPi));
    w_.eonTp->setCaption(FlagNY(r.eonTp));
    w_.eonPty->setCaption(Dec(r.eonPty, 2));
    w_.eonTa->setCaption(FlagNY(r.eonTa));
    w_.eonPin->setCaption(Hex4s(r.eonPin));
    w_.eonPs->setCaption(Text(r.eonPs));
    w_.eonAf1->setCaption(Freq(r.eonAf1));
    w_.eonAf2->setCaption(Freq(r.eonAf2));
    for (int i = 0; i < 5; ++i) w_.eonTuned[i]->setCaption(Freq(r.eonTuned[i]));
    for (int i = 0; i < 5; ++i) w_.eonMapped[i]->setCaption(Freq(r.eonMapped[i]));
}

void GroupPanels::showRawBlocks(int type, const uint16_t (&words)[4], const QString& name, const QString& content)
{
    const QString title =
        name.isEmpty() ? QStringLiteral("GRP %1").arg(type) : QStringLiteral("GRP %1 %2").arg(type).arg(name);
    if (w_.raw->title() != title) w_.raw->setTitle(title);
    if (w_.raw->toolTip() != content) w_.raw->setToolTip(content);
    for (int row = 0; row < 4; ++row) {
        w_.rawWords[row]->setCaption(Hex4s(words[row]));
        w_.rawChars[row]->setCaption(IntegerToChar(words[row]));
    }
}

// ---------------------------------------------------------------------------
// Noted while decoding, drawn at the next redraw

void GroupPanels::note(const DecodedGroup& g)
{
    Pending& v = pending_;
    const DecoderState& r = g.state;
    texts_.feed(quality_.take(g.blockWords));
    v.group = true;
    for (int n = 0; n < 4; ++n) v.lines[n] = g.lines[n];
    v.header = r;
    if (r.groupType != shownGroupType_) {
        shownGroupType_ = r.groupType;
        for (int p : kPanelGroups) panelWanted_[p] = 0;
    }
    if (r.pi != shownPi_) {
        shownPi_ = r.pi;
        // Everything noted for the panels so far is cleared before it shows.
        v.clear = true;
        v.panels = 0;
        v.tmcMessage = v.tmcEvent = false;
    }
    const int type = r.groupType;
    if (type < 16 && w_.frames[type]) {
        panelWanted_[type] = 1;
        rawWanted_ = 0;
        v.panels |= 1u << type;
        v.records[type] = r;
        if (type == 8 && texts_.tmcCompleted() && texts_.tmc().last()->groups > 1) {
            // A multi-group message became whole: shown as its first group
            // read, with what its later groups added.
            const rdsformats::TmcMessage& m = *texts_.tmc().last();
            DecoderState first = r;
            first.tmcT = first.tmcF = 0;
            first.tmcD = 1;
            first.tmcPN = m.negative ? 1 : 0;
            first.tmcExtent = m.extent;
            first.tmcEvent = m.event;
            first.tmcLocation = m.location;
            v.tmcMessage = v.tmcEvent = true;
            v.tmcMessageRecord = v.tmcEventRecord = first;
        } else if (type == 8 && CarriesTmcMessage(r)) {
            // Kept apart: a later group of the message must not hide them.
            v.tmcMessage = true;
            v.tmcMessageRecord = r;
            if (r.tmcEvent != 0) {
                v.tmcEvent = true;
                v.tmcEventRecord = r;
            }
        }
    } else {
        rawWanted_ = 1;
        v.raw = true;
        v.rawType = type;
        std::copy(std::begin(g.blockWords), std::end(g.blockWords), v.rawWords);
        std::tie(v.rawName, v.rawContent) = Explain(texts_, type, r.groupVersion);
    }
}

void GroupPanels::apply()
{
    Pending& v = pending_;
    if (v.group) {
        for (int n = 0; n < 4; ++n) w_.lines[n]->setCaption(QString::fromLatin1(v.lines[n]) + QStringLiteral("\r\n"));
        showHeader(v.header);
        if (v.clear) clearValues();
        for (int type : kPanelGroups) {
            if (!(v.panels & (1u << type))) continue;
            const DecoderState& r = v.records[type];
            switch (type) {
                case 0:
                    showBasic(r);
                    break;
                case 1:
                    showSlowLabels(r);
                    break;
                case 2:
                    showRadioText(r);
                    break;
                case 3:
                    showOda(r);
                    break;
                case 4:
                    showClock(r);
                    break;
                case 8:
                    if (v.tmcEvent) showTmc(v.tmcEventRecord);
                    if (v.tmcMessage) showTmc(v.tmcMessageRecord);
                    showTmc(r);
                    break;
                case 14:
                    showEon(r);
                    break;
                default:
                    break;
            }
        }
        if (v.raw) showRawBlocks(v.rawType, v.rawWords, v.rawName, v.rawContent);
        v.group = v.clear = v.raw = v.tmcMessage = v.tmcEvent = false;
        v.panels = 0;
    }
    applyStates();
}

}  // namespace varnak
