#include "ui/DialogSeam.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QThread>

#include "lang/Loadlanguage.h"

namespace varnel::ui {

namespace {
WidgetDialogs g_widgetDialogs;
DialogSeam* g_seam = nullptr;
}  // namespace

DialogSeam& Dialogs() { return g_seam != nullptr ? *g_seam : g_widgetDialogs; }
void SetDialogs(DialogSeam* seam) { g_seam = seam; }

QString QtFilterFromDesign(const QString& designFilter) {
    // "Description|pattern|Description|pattern" -> "Description (pattern);;..."
    const QStringList parts = designFilter.split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        const QString pattern = parts[i + 1].trimmed();
        if (!description.contains(pattern)) description += " (" + pattern + ")";
        filters << description;
    }
    if (filters.isEmpty()) filters << designFilter.trimmed();
    return filters.join(";;");
}

MessageResult WidgetDialogs::message(QWidget* parent, MessageKind kind, const QString& caption,
                                     const QString& text, MessageButtons buttons) {
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (kind) {
        case MessageKind::Information: box.setIcon(QMessageBox::Information); break;
        case MessageKind::Error: box.setIcon(QMessageBox::Critical); break;
        case MessageKind::Question: box.setIcon(QMessageBox::Question); break;
        case MessageKind::Plain: box.setIcon(QMessageBox::NoIcon); break;
    }
    if (buttons == MessageButtons::SaveDiscardCancel) {
        const auto text = [](const char* key) { return QString::fromStdString(Text("Safety", key)); };
        QPushButton* save = box.addButton(text("S0001"), QMessageBox::AcceptRole);
        QPushButton* discard = box.addButton(text("S0002"), QMessageBox::DestructiveRole);
        QPushButton* cancel = box.addButton(text("S0003"), QMessageBox::RejectRole);
        box.setDefaultButton(cancel);
        box.setEscapeButton(cancel);
        box.exec();
        if (box.clickedButton() == save) return MessageResult::Ok;
        if (box.clickedButton() == discard) return MessageResult::Discard;
        return MessageResult::Cancel;
    }
    if (buttons == MessageButtons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? MessageResult::Ok : MessageResult::Cancel;
}

QString WidgetDialogs::openFileName(QWidget* parent, const QString& directory, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, QString(), directory, QtFilterFromDesign(filter));
}

QString WidgetDialogs::saveFileName(QWidget* parent, const QString& directory, const QString& filter,
                                    const QString& defaultSuffix, bool confirmOverwrite) {
    QFileDialog dialog(parent, QString(), directory, QtFilterFromDesign(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix.startsWith('.') ? defaultSuffix.mid(1) : defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !confirmOverwrite);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
}

int WidgetDialogs::execDialog(QDialog* dialog) { return dialog->exec(); }

void WidgetDialogs::pause(int milliseconds) { QThread::msleep(static_cast<unsigned long>(milliseconds)); }

}  // namespace varnel::ui
