#pragma once

#include "sharing/ShareLink.h"

#include <QDialog>

class CoalescedRefresh;
class ImageShareStore;
class QLabel;
class RowList;

// The links sheet: every shared link of the signed-in user, to copy or revoke.
class ShareLinksView : public QDialog {
    Q_OBJECT

public:
    explicit ShareLinksView(ImageShareStore *sharing, QWidget *parent = nullptr);
    ~ShareLinksView() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();
    void rebuild();

    ImageShareStore *m_sharing;
    CoalescedRefresh *m_refresh;
    QList<ShareLink> m_shown;
    RowList *m_rows;
    QLabel *m_failure;
    QLabel *m_notice;
};
