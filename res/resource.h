/* Every identifier of the program: resources, controls and commands. Plain
   defines, so the resource compiler and the portable code read the same file. */
#ifndef ULVAR_RESOURCE_H
#define ULVAR_RESOURCE_H

/* Resources */
#define DLG_ABOUT 100
#define DLG_SETTINGS 101
#define IDR_ACCEL 102
#define IDR_MENU 103
#define ICON_MAIN 104
#define ICON_ABOUT_RES 105
#define BMP_ABOUT 106

/* Menu and accelerator commands */
#define IDM_CONNECT 256
#define IDM_DISCONNECT 257
#define IDM_EXIT 258
#define IDM_SETTINGS 259
#define IDM_ABOUT 260
#define IDM_CLEAR_DEBUG 265
#define IDM_CLEAR_RECV 270
#define IDM_ABORT_CAPTURE 40001
#define IDM_SET_ENCODER_DEST 40002
#define IDM_SET_SENSOR_DEST 40003

/* Main window controls; the buttons' ids are also their commands */
#define CHK_LUMINARY 271
#define CHK_ATMEGA168 273
#define CHK_BLVER 274
#define BTN_RESET_CAP 275
#define BTN_RESET57_CAP 276
#define EDIT_DEST 277
#define BTN_PRESET_SR 278
#define BTN_PRESET_RO 279
#define EDIT_STATUS 288
#define EDIT_RECV 289
#define EDIT_FILE 290
#define EDIT_DEBUG 291
#define BTN_CAP 292
#define BTN_FIND 293
#define BTN_UPGRADE 294
#define BTN_GO 296
#define BTN_SEND 304 /* internal: no control, menu item or accelerator carries it */

/* About box */
#define ICON_ABOUT 528

/* Settings dialog */
#define CMB_PORT 544
#define CMB_BAUD 545
#define CMB_DATABITS 546
#define CMB_PARITY 547
#define CMB_STOPBITS 548
#define CHK_DTRDSR 549
#define CHK_RTSCTS 550
#define CHK_XONXOFF 551
#define CHK_AUTOWRAP 552
#define CHK_NEWLINE 553
#define CHK_LOCALECHO 554
#define BTN_FONT 555
#define CHK_CNRECEIVE 556
#define CHK_DISPERRORS 557

/* String table */
#define STR_COM 784
#define STR_BAUD_FIRST 800
#define STR_PARITY_FIRST 816
#define STR_STOP_FIRST 832

/* Sequencer timer */
#define TIMER_ID 262

#endif
