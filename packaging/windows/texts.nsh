; The installer's own texts, besides NSIS's translated pages: Simplified Chinese (zh_CN, the
; default) or English (en), chosen with LAUNCHER_INSTALLER_LANGUAGE.
!if "${INSTALLER_LANGUAGE}" == "SimpChinese"
  !define TEXT_LANGUAGE ${LANG_SIMPCHINESE}
  !define TEXT_SETUP_DESCRIPTION "${PRODUCT_NAME} 安装程序"
  !define TEXT_DATA_KEPT "您在“文档”文件夹中的数据和日志已保留！"
!else
  !define TEXT_LANGUAGE ${LANG_ENGLISH}
  !define TEXT_SETUP_DESCRIPTION "${PRODUCT_NAME} Setup"
  !define TEXT_DATA_KEPT "Your data and logs in the Documents folder have been kept."
!endif
