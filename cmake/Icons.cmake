# The icon sizes, in pixels, in one place: the PNGs drawn from the SVG source,
# the images compiled into the program, and the hicolor theme install.
# resources/icons/make-icons.sh reads these two lines.
set(LC_PROGRAM_ICON_SIZES 128 96 64 48 32)
set(LC_THEME_ICON_SIZES 16 22 24 32 48 64 96 128 256)

# Application id: desktop file, AppStream id, icon name and the window's app id.
set(LC_APP_ID io.github.lumacast2)
