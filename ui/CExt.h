#pragma once

#include <QFrame>
#include <QTableWidget>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "agent/AgentButtons.h"
#include "ui/ImageButton.h"

// The attached data window under the bar: the current call's data as a grid of keys and
// values the agent may edit, extend with Add, trim with Remove (rows not yet saved only) and
// send with Save. Once the call has ended the data can be read but not changed.
class CExt : public QFrame {
    Q_OBJECT
public:
    using Rows = std::vector<std::pair<std::string, std::string>>;

    // `save` writes the rows into the call's data and sends them.
    CExt(QWidget* bar, std::function<void(const Rows&)> save);

    // Fills the grid from the call's data and shows the window.
    void showList(const AttachedDataView& view);
    void OnBnClickedAdd();
    void OnBnClickedRemove();
    void OnBnClickedSave();
    // Keeps the window at the left edge of the bar, just below it.
    void placeUnder(const QWidget& bar);

    QTableWidget& grid() { return grid_; }
    ImageButton& addButton() { return add_; }
    ImageButton& removeButton() { return remove_; }
    ImageButton& saveButton() { return save_; }
    bool rowSaved(int row) const;

private:
    void appendRow(const QString& key, const QString& value, bool saved, bool valueEditable);

    QTableWidget grid_;
    ImageButton add_;
    ImageButton remove_;
    ImageButton save_;
    std::function<void(const Rows&)> saveRows_;
};
