/* The branding library's resource contract: the numbers of the texts, the icon menu, the dialogs with
   their controls and the feedback images that the user interface loads from the suite's branding
   library. Any library that carries resources under these numbers serves the component; the numbers
   themselves belong to the suite and never change.

   Plain #defines only: the resource compiler reads this file as well as the C++ compiler. */
#ifndef KX_ENVIRONMENT_BRANDINGRESOURCES_H
#define KX_ENVIRONMENT_BRANDINGRESOURCES_H

/* ---- Texts (string table). Every text is numbered from 40000 up; menu entries never are. ---- */
#define IDS_KX_FIRST_TEXT 40000

/* Training prompt balloon: title and text, by deployment. */
#define IDS_KX_PROMPT_TITLE 40002          /* personal mode off */
#define IDS_KX_PROMPT_TEXT 40003
#define IDS_KX_PROMPT_SENSOR_TITLE 40131   /* personal mode on, sensor state shown */
#define IDS_KX_PROMPT_SENSOR_TEXT 40132
#define IDS_KX_PROMPT_PERSONAL_TITLE 40133 /* personal mode on, sensor state not shown */
#define IDS_KX_PROMPT_PERSONAL_TEXT 40134

/* Hints of the fingerprint reader after a scan of bad quality. */
#define IDS_KX_SCAN_TOO_SHORT 40123
#define IDS_KX_SCAN_TOO_FAST 40124
#define IDS_KX_SCAN_TOO_SLOW 40125
#define IDS_KX_SCAN_TO_ONE_SIDE 40126
#define IDS_KX_SCAN_NOT_CENTRED 40151
#define IDS_KX_SCAN_POOR 40152 /* also every quality without a text of its own */
#define IDS_KX_SCAN_NOT_STRAIGHT 40153
#define IDS_KX_SCAN_PRESS_HARDER 40154
#define IDS_KX_SCAN_PRESS_LIGHTER 40155
#define IDS_KX_SCAN_CLEAN_SENSOR 40156
#define IDS_KX_SCAN_TOO_DRY 40157
#define IDS_KX_SCAN_TOO_WET 40158
#define IDS_KX_SCAN_PARTIAL 40159
#define IDS_KX_SCAN_STOPPED 40160
#define IDS_KX_SCAN_TWISTED 40161
#define IDS_KX_SCAN_FAINT 40162
#define IDS_KX_SCAN_NOT_RECOGNISED 40163

/* Texts of the icon menu's entries. */
#define IDS_KX_MENU_PRODUCT 40000           /* the product's name alone */
#define IDS_KX_MENU_DONTPROMPTTRAING 40006  /* never prompt to train pages */
#define IDS_KX_MENU_DONTPROMPTTRAINL 40128  /* do not prompt to train this page */
#define IDS_KX_MENU_FILLIN 40135
#define IDS_KX_MENU_EDITPROFILE 40136
#define IDS_KX_MENU_ADDPROFILE_FOR 40137    /* a format with one insert, "%s": the page's domain */
#define IDS_KX_MENU_DASHBOARD 40138
#define IDS_KX_MENU_ICONSETTINGS 40139      /* also the icon settings dialog's title */
#define IDS_KX_MENU_TRAINPASSWORDCHANGE 40147
#define IDS_KX_MENU_ADDANOTHERPROFILE 40148

/* The choice text of a form known only through its related form; the related form's text follows. */
#define IDS_KX_RELATEDFORM_CHOICE 40130

/* ---- The icon menu (menu template; its first submenu is the menu). ---- */
#define IDR_KX_ICONMENU 303

/* Entries of the template. */
#define IDM_KX_HELP 32783
#define IDM_KX_STARTFLM 32784 /* the fingerprint manager */
#define IDM_KX_ADDPROFILE 32785
#define IDM_KX_EDITPROFILE 32786
/* Entries the component puts in, or renames template entries to. */
#define IDM_KX_TRAINPASSWORDCHANGE 32787
#define IDM_KX_PRODUCT 35000
#define IDM_KX_DONTPROMPTTRAING 35001
#define IDM_KX_DONTPROMPTTRAINL 35002
#define IDM_KX_DASHBOARD 35003
#define IDM_KX_ICONSETTINGS 35004
#define IDM_KX_FILLIN 35005

/* ---- The choose-manifest dialog (dialog template) and its controls. ---- */
#define IDD_KX_CHOOSEMANIFEST 905
#define IDC_KX_CHOICELIST 905 /* the list view, one row per choice */
#define IDC_KX_HELPLINK 111   /* a static text that becomes the help link */

/* ---- The icon settings dialog and its controls. ---- */
#define IDD_KX_ICONSETTINGS 906
#define IDC_KX_SHOWICON 907    /* radio button: show the icon and prompt */
#define IDC_KX_NOTTHISPAGE 908 /* check box under 907: but not on this page (kept hidden) */
#define IDC_KX_NEVERPROMPT 909 /* radio button: never prompt */

/* ---- Feedback images (bitmaps, 32 bits with alpha): images 1 to 6 numbered in a row, for 96 dpi
   and for 144 dpi (the 96-dpi number plus 10). ---- */
#define IDB_KX_IMAGE1 501
#define IDB_KX_IMAGE2 502
#define IDB_KX_IMAGE3 503
#define IDB_KX_IMAGE4 504
#define IDB_KX_IMAGE5 505
#define IDB_KX_IMAGE6 506
#define IDB_KX_IMAGE1_144 511
#define IDB_KX_IMAGE2_144 512
#define IDB_KX_IMAGE3_144 513
#define IDB_KX_IMAGE4_144 514
#define IDB_KX_IMAGE5_144 515
#define IDB_KX_IMAGE6_144 516

#endif /* KX_ENVIRONMENT_BRANDINGRESOURCES_H */
