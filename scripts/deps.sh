# Shared by scripts/run and scripts/test: the Debian/Ubuntu packages the
# program needs, and an installer that adds only the missing ones.

KORVEL_BUILD_PACKAGES="cmake ninja-build g++ qt6-base-dev qt6-tools-dev qt6-tools-dev-tools
  qt6-l10n-tools qt6-translations-l10n libqcustomplot-dev libgl-dev fonts-wqy-zenhei"
# g++-mingw-w64-x86-64-posix: the Windows compile check of scripts/test.
KORVEL_TEST_PACKAGES="xvfb xauth clang clang-format libclang-rt-14-dev locales git
  g++-mingw-w64-x86-64-posix"

korvel_install_packages() {
    local wanted="$*" missing="" pkg
    if ! command -v apt-get >/dev/null 2>&1 || ! command -v dpkg-query >/dev/null 2>&1; then
        echo "This is not a Debian or Ubuntu system, so nothing is installed automatically." >&2
        echo "Install these (or your system's equivalents), then run again:" >&2
        echo "  a C++17 compiler, CMake >= 3.21, Ninja, Qt 6.4+ (Core, Gui, Widgets, PrintSupport," >&2
        echo "  LinguistTools, Test), QCustomPlot 2.1 for Qt 6 (CMake package QCustomPlotQt6)" >&2
        echo "  and, for the tests, Xvfb and clang." >&2
        echo "Debian package names: $wanted" >&2
        return 1
    fi
    for pkg in $wanted; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing="$missing $pkg"
    done
    [ -z "$missing" ] && return 0
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo="sudo"
        else
            echo "Missing packages:$missing" >&2
            echo "Run as root or install them with apt-get, then run again." >&2
            return 1
        fi
    fi
    echo "Installing missing packages:$missing"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq || return 1
    # shellcheck disable=SC2086
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing || return 1
}

# Generates a locale (e.g. de_DE.UTF-8 or zh_CN.GBK) if the system lacks it; best effort.
korvel_ensure_locale() {
    local loc="$1" charset="${1#*.}"
    # locale -a writes the code set in lower case without dashes (de_DE.utf8, zh_CN.gbk).
    local listed="${loc%%.*}.$(printf '%s' "$charset" | tr 'A-Z' 'a-z' | tr -d '-')"
    locale -a 2>/dev/null | grep -qix "$listed" && return 0
    [ "$(id -u)" -eq 0 ] || return 0
    [ -f /etc/locale.gen ] || return 0
    sed -i "s/^# *\(${loc} ${charset}\)$/\1/" /etc/locale.gen
    grep -q "^${loc} ${charset}$" /etc/locale.gen || echo "${loc} ${charset}" >> /etc/locale.gen
    locale-gen >/dev/null 2>&1 || true
}
