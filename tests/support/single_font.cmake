# Fontconfig files that each know one Chinese font package only, as a desktop with just that
# package installed would: QUORVEL_TEST_FONTS lists the short names; per name,
# QUORVEL_FONTS_<name>_CONF is the file for FONTCONFIG_FILE and QUORVEL_FONTS_<name>_FAMILY the
# face the program should end up with. The system's rules (/etc/fonts/conf.d) still apply.
set(QUORVEL_TEST_FONTS wqy noto uming)
set(QUORVEL_FONTS_wqy_PACKAGE fonts-wqy-microhei)
set(QUORVEL_FONTS_wqy_FAMILY "WenQuanYi Micro Hei")
set(QUORVEL_FONTS_wqy_FILES /usr/share/fonts/truetype/wqy/wqy-microhei.ttc)
set(QUORVEL_FONTS_noto_PACKAGE fonts-noto-cjk)
set(QUORVEL_FONTS_noto_FAMILY "Noto Sans CJK SC")
set(QUORVEL_FONTS_noto_FILES /usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc
                             /usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc)
set(QUORVEL_FONTS_uming_PACKAGE fonts-arphic-uming)
set(QUORVEL_FONTS_uming_FAMILY "AR PL UMing CN")
set(QUORVEL_FONTS_uming_FILES /usr/share/fonts/truetype/arphic/uming.ttc)

foreach(font IN LISTS QUORVEL_TEST_FONTS)
  set(dir ${CMAKE_BINARY_DIR}/single-fonts/${font})
  file(MAKE_DIRECTORY ${dir}/files)
  # Links, so that a package installed later is found without configuring again.
  foreach(path IN LISTS QUORVEL_FONTS_${font}_FILES)
    get_filename_component(name ${path} NAME)
    file(CREATE_LINK ${path} ${dir}/files/${name} SYMBOLIC)
  endforeach()
  set(QUORVEL_FONTS_${font}_CONF ${dir}/fonts.conf)
  file(WRITE ${dir}/fonts.conf
"<?xml version=\"1.0\"?>
<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">
<fontconfig>
  <dir>${dir}/files</dir>
  <cachedir>${dir}/cache</cachedir>
  <include ignore_missing=\"yes\">/etc/fonts/conf.d</include>
</fontconfig>
")
endforeach()
