#pragma once

#include <QAbstractListModel>
#include <QVariantMap>
#include <QVector>

// A grid's tiles, each a map of the Sounds screen's tile values keyed by their names. A new list
// changes only the rows that differ, in place: a tile that stays keeps its drawing, and with it the
// keyboard focus and what a screen reader knows of it.
class ClipTileModel : public QAbstractListModel {
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QVector<QVariantMap>& tiles() const { return m_tiles; }
    void update(const QVector<QVariantMap>& tiles);

private:
    static QString idOf(const QVariantMap& tile);
    QVector<QVariantMap> m_tiles;
};
