#include "ui/update_dlg.h"

#include "ui/about_dlg.h"

CUpdateDlg::CUpdateDlg(CWnd *pParent) : CDialog(IDD_WELCOME, pParent) {
    // A shared resource icon: never released.
    m_hAppIcon = LoadIconA(AfxFindResourceHandle(MAKEINTRESOURCEA(IDI_UPDATE), RT_GROUP_ICON),
                           MAKEINTRESOURCEA(IDI_UPDATE));
}

BEGIN_MESSAGE_MAP(CUpdateDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDOK, OnOK)
END_MESSAGE_MAP()

void CUpdateDlg::DoDataExchange(CDataExchange *pDX) { CDialog::DoDataExchange(pDX); }

BOOL CUpdateDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CMenu *pSysMenu = GetSystemMenu(FALSE);
    if (pSysMenu != nullptr) {
        CString strAboutMenu;
        strAboutMenu.LoadString(IDS_ABOUT_MENU);
        if (!strAboutMenu.IsEmpty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUT, strAboutMenu);
        }
    }
    SetIcon(m_hAppIcon, TRUE);
    SetIcon(m_hAppIcon, FALSE);
    return TRUE;
}

void CUpdateDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if ((nID & 0xFFF0) == IDM_ABOUT) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        CDialog::OnSysCommand(nID, lParam);
    }
}

void CUpdateDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    int cxIcon = GetSystemMetrics(SM_CXICON);
    int cyIcon = GetSystemMetrics(SM_CYICON);
    CRect rect;
    GetClientRect(&rect);
    int x = (rect.Width() - cxIcon + 1) / 2;
    int y = (rect.Height() - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hAppIcon);
}

HCURSOR CUpdateDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hAppIcon); }
