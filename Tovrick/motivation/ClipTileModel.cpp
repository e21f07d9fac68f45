#include "Tovrick/motivation/ClipTileModel.h"

#include <algorithm>

namespace {

// Fixed, so that a row's roles are known before its first tile.
const QList<QByteArray>& roleKeys()
{
    static const QList<QByteArray> keys = { "id", "title", "own", "playing", "symbol", "playLabel", "deleteLabel", "on" };
    return keys;
}

} // namespace

int ClipTileModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_tiles.size());
}

QVariant ClipTileModel::data(const QModelIndex& index, int role) const
{
    const int key = role - Qt::UserRole;
    if (!index.isValid() || index.row() >= m_tiles.size() || key < 0 || key >= roleKeys().size())
        return {};
    return m_tiles[index.row()].value(QString::fromLatin1(roleKeys()[key]));
}

QHash<int, QByteArray> ClipTileModel::roleNames() const
{
    QHash<int, QByteArray> names;
    for (qsizetype n = 0; n < roleKeys().size(); ++n)
        names.insert(Qt::UserRole + static_cast<int>(n), roleKeys()[n]);
    return names;
}

QString ClipTileModel::idOf(const QVariantMap& tile)
{
    return tile.value(QStringLiteral("id")).toString();
}

void ClipTileModel::update(const QVector<QVariantMap>& tiles)
{
    // Rows whose clip went are removed; the survivors keep their order, so what is left to do is
    // inserting the new ones where they stand and changing the roles that changed.
    for (qsizetype row = m_tiles.size() - 1; row >= 0; --row) {
        const QString id = idOf(m_tiles[row]);
        const bool kept = std::any_of(tiles.begin(), tiles.end(), [&](const QVariantMap& t) { return idOf(t) == id; });
        if (kept)
            continue;
        beginRemoveRows({}, static_cast<int>(row), static_cast<int>(row));
        m_tiles.remove(row);
        endRemoveRows();
    }
    for (qsizetype row = 0; row < tiles.size(); ++row) {
        if (row < m_tiles.size() && idOf(m_tiles[row]) == idOf(tiles[row]))
            continue;
        const bool later = std::any_of(m_tiles.begin() + row, m_tiles.end(),
                                       [&](const QVariantMap& t) { return idOf(t) == idOf(tiles[row]); });
        if (later) {
            // Reordered: nothing short of starting over keeps the rows true.
            beginResetModel();
            m_tiles = tiles;
            endResetModel();
            return;
        }
        beginInsertRows({}, static_cast<int>(row), static_cast<int>(row));
        m_tiles.insert(row, tiles[row]);
        endInsertRows();
    }
    if (m_tiles.size() != tiles.size()) {
        beginResetModel();
        m_tiles = tiles;
        endResetModel();
        return;
    }
    for (qsizetype row = 0; row < tiles.size(); ++row) {
        QList<int> changed;
        for (qsizetype key = 0; key < roleKeys().size(); ++key) {
            const QString name = QString::fromLatin1(roleKeys()[key]);
            if (m_tiles[row].value(name) != tiles[row].value(name))
                changed.append(Qt::UserRole + static_cast<int>(key));
        }
        if (changed.isEmpty())
            continue;
        m_tiles[row] = tiles[row];
        emit dataChanged(index(static_cast<int>(row)), index(static_cast<int>(row)), changed);
    }
}
