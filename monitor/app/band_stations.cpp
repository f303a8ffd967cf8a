#include "band_stations.h"

#include <cmath>

namespace varnak {
namespace {

QString PiText(uint16_t pi) { return QStringLiteral("%1").arg(pi, 4, 16, QLatin1Char('0')).toUpper(); }

QVariant SortValue(const BandStationRow& r, int column)
{
    switch (column) {
        case BandStationModel::Frequency:
            return r.mhz;
        case BandStationModel::Pi:
            return r.hasRds ? int(r.pi) : -1;
        case BandStationModel::Level:
            return r.levelDbfs;
        case BandStationModel::Cn:
            return std::isfinite(r.cnDb) ? r.cnDb : -1e9;
        case BandStationModel::GroupsPerSecond:
            return r.groupsPerSecond;
        case BandStationModel::Bler:
            return r.blockErrorRate;
        case BandStationModel::LastSeen:
            return r.lastSeenSeconds;
        default:
            return BandStationModel::cellText(r, column);
    }
}

}  // namespace

QString BandStationModel::cellText(const BandStationRow& r, int column)
{
    switch (column) {
        case Frequency:
            return QString::number(r.mhz, 'f', 2);
        case Pi:
            return r.hasRds ? PiText(r.pi) : QString();
        case Ps:
            return r.ps;
        case Pty:
            return r.pty;
        case RadioText:
            return r.radioText;
        case Level:
            return QString::number(r.levelDbfs, 'f', 1);
        case Cn:
            return std::isfinite(r.cnDb) ? QString::number(r.cnDb, 'f', 1) : QString();
        case GroupsPerSecond:
            return QString::number(r.groupsPerSecond, 'f', 1);
        case Bler:
            return r.blockErrorRate >= 0 ? QStringLiteral("%1 %").arg(r.blockErrorRate * 100, 0, 'f', 1) : QString();
        case LastSeen:
            return QStringLiteral("%1 s%2")
                .arg(r.lastSeenSeconds, 0, 'f', 1)
                .arg(r.active ? QString() : QStringLiteral(" (lost)"));
        default:
            return {};
    }
}

QString StationLabelText(const BandStationRow& r)
{
    if (!r.hasRds) return QString::number(r.mhz, 'f', 1);
    return PiText(r.pi) + QLatin1Char(' ') + r.ps.trimmed();
}

void BandStationModel::update(const std::vector<BandStationRow>& rows)
{
    for (const BandStationRow& row : rows) {
        const int at = rowOf(row.id);
        if (at < 0) {
            const int n = int(rows_.size());
            beginInsertRows(QModelIndex(), n, n);
            rows_.push_back(row);
            endInsertRows();
            continue;
        }
        BandStationRow& old = rows_[std::size_t(at)];
        int first = ColumnCount, last = -1;
        for (int c = 0; c < ColumnCount; ++c)
            if (cellText(old, c) != cellText(row, c)) {
                first = std::min(first, c);
                last = c;
            }
        old = row;
        if (last >= 0) emit dataChanged(index(at, first), index(at, last));
    }
}

void BandStationModel::clear()
{
    beginResetModel();
    rows_.clear();
    endResetModel();
}

int BandStationModel::rowOf(int id) const
{
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].id == id) return int(i);
    return -1;
}

int BandStationModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

int BandStationModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant BandStationModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(rows_.size())) return {};
    const BandStationRow& r = rows_[std::size_t(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return cellText(r, index.column());
        case kSortRole:
            return SortValue(r, index.column());
        case kIdRole:
            return r.id;
        case Qt::TextAlignmentRole:
            return index.column() == Ps || index.column() == Pty || index.column() == RadioText
                       ? QVariant(int(Qt::AlignLeft | Qt::AlignVCenter))
                       : QVariant(int(Qt::AlignRight | Qt::AlignVCenter));
        default:
            return {};
    }
}

QVariant BandStationModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const names[ColumnCount] = {"MHz",  "PI",  "PS",       "PTY",  "Radiotext",
                                                   "dBFS", "C/N", "Groups/s", "BLER", "Last seen"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(names[section]) : QVariant();
}

}  // namespace varnak
