// The band window's table of stations as a Qt item model (no widgets): one
// row per station found, in the order found, with what it sends and how it
// is received. The window sorts it through a QSortFilterProxyModel on
// kSortRole, which gives numbers for the numeric columns.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <vector>

namespace varnak {

struct BandStationRow {
    int id = 0;  // the band receiver's station id
    double mhz = 0;
    bool hasRds = false;  // a group was decoded
    uint16_t pi = 0;
    QString ps;   // as sent, 8 characters
    QString pty;  // the programme type's name
    QString radioText;
    double levelDbfs = 0;
    double cnDb = 0;  // NaN when not measured
    double groupsPerSecond = 0;
    double blockErrorRate = -1;  // negative while no block was checked
    double lastSeenSeconds = 0;  // capture time
    bool active = true;          // false once lost
};

class BandStationModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Frequency, Pi, Ps, Pty, RadioText, Level, Cn, GroupsPerSecond, Bler, LastSeen, ColumnCount };
    static constexpr int kSortRole = Qt::UserRole;
    static constexpr int kIdRole = Qt::UserRole + 1;

    using QAbstractTableModel::QAbstractTableModel;

    // Takes the stations' current values: new ids are appended as rows,
    // known ones updated in place (only changed cells are announced).
    void update(const std::vector<BandStationRow>& rows);
    void clear();

    const std::vector<BandStationRow>& rows() const { return rows_; }
    // The row of station `id`, or -1.
    int rowOf(int id) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The text of one cell, as shown.
    static QString cellText(const BandStationRow& row, int column);

private:
    std::vector<BandStationRow> rows_;
};

// "C2A1 KESTREL": how a station is labelled on the spectrum; its frequency
// when it sent no group yet.
QString StationLabelText(const BandStationRow& row);

}  // namespace varnak
