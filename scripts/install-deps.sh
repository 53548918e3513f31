#!/usr/bin/env bash
# Installs every system dependency of the server, its tests and its tools on
# Debian 12 (bookworm). Must run as root. Safe to re-run: when everything is
# already installed it only queries dpkg and exits within a second or two.
#
# Squirrel 3.1 is only packaged up to Debian 11 (bullseye), so it is taken from
# that suite on the same mirror the machine already uses. The extra apt source
# and its low-priority pin exist only while installing and are removed after,
# so nothing else on the machine can ever be upgraded from the older suite.
set -euo pipefail

readonly kPackages=(
    build-essential cmake pkg-config git tar python3
    liblua5.3-dev
    libmozjs-102-dev
    libenet-dev
    libtinyxml-dev
    libwebsockets-dev
    libcurl4-openssl-dev
    libssl-dev
    libcrypt-dev
    zlib1g-dev
    libpng-dev
    libsdl2-dev
    googletest libgtest-dev libgmock-dev
    curl python3-websockets
)
readonly kSquirrelPackages=(libsquirrel-dev libsquirrel3-0)
readonly kSquirrelVersion="3.1-8"
readonly kSquirrelSeries="3.1"
readonly kOldSuite="bullseye"
readonly kSourceFile="/etc/apt/sources.list.d/zz-install-deps-${kOldSuite}.sources"
readonly kPinFile="/etc/apt/preferences.d/zz-install-deps-${kOldSuite}"

export DEBIAN_FRONTEND=noninteractive
# Wait for a concurrent apt/dpkg run instead of failing on its lock.
readonly kAptOpts=(-o DPkg::Lock::Timeout=600)

log() { echo "install-deps: $*" >&2; }
die() { log "error: $*"; exit 1; }

[[ "$(id -u)" -eq 0 ]] || die "must run as root"
if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
    die "this script needs a Debian system (dpkg/apt)"
fi

# Prints the names (from "$@") that are not fully installed.
missing_packages() {
    local status
    status="$(dpkg-query -W -f='${Package} ${Status}\n' "$@" 2>/dev/null || true)"
    local pkg
    for pkg in "$@"; do
        # Multi-arch packages print one line per architecture; any installed one counts.
        if ! grep -qE "^${pkg//./\\.} install ok installed$" <<<"${status}"; then
            echo "${pkg}"
        fi
    done
}

squirrel_ok() {
    local pkg version
    for pkg in "${kSquirrelPackages[@]}"; do
        [[ -z "$(missing_packages "${pkg}")" ]] || return 1
        version="$(dpkg-query -W -f='${Version}' "${pkg}" 2>/dev/null || true)"
        [[ "${version}" == "${kSquirrelSeries}"-* ]] || return 1
    done
}

# Finds the Debian main archive in the machine's own apt sources: the first
# "deb" entry whose suite is exactly the running release's codename and which
# carries the main component. Prints "URI<TAB>KEYRING" (keyring may be empty).
find_debian_mirror() {
    local codename="$1"
    local files=()
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [[ -f "${f}" && "${f}" != "${kSourceFile}" ]] && files+=("${f}")
    done
    [[ ${#files[@]} -gt 0 ]] || return 1

    local file
    for file in "${files[@]}"; do
        if [[ "${file}" == *.sources ]]; then
            # deb822: blank-line separated stanzas; comment lines (e.g. a
            # commented snapshot URL) are skipped, only the URIs: field is used.
            awk -v want="${codename}" '
                function has(list, word,   n, i, a) {
                    n = split(list, a, /[ \t]+/)
                    for (i = 1; i <= n; i++) if (a[i] == word) return 1
                    return 0
                }
                function flush() {
                    if (!done && has(types, "deb") && has(suites, want) && has(comps, "main") \
                        && enabled != "no" && uris != "") {
                        split(uris, u, /[ \t]+/)
                        printf "%s\t%s\n", u[1], (signed ~ /^\// ? signed : "")
                        done = 1
                    }
                    types = uris = suites = comps = signed = ""; enabled = ""
                }
                /^[ \t]*#/ { next }
                /^[ \t]*$/ { flush(); next }
                /^[A-Za-z-]+:/ {
                    key = tolower($0); sub(/:.*/, "", key)
                    val = $0; sub(/^[^:]*:[ \t]*/, "", val); sub(/[ \t]+$/, "", val)
                    if (key == "types") types = val
                    else if (key == "uris") uris = val
                    else if (key == "suites") suites = val
                    else if (key == "components") comps = val
                    else if (key == "signed-by") signed = val
                    else if (key == "enabled") enabled = tolower(val)
                }
                END { flush() }
            ' "${file}"
        else
            # One-line format: deb [opt=val ...] URI SUITE COMPONENT...
            awk -v want="${codename}" '
                /^[ \t]*#/ { next }
                $1 == "deb" {
                    line = $0; signed = ""
                    if (match(line, /\[[^]]*\]/)) {
                        opts = substr(line, RSTART + 1, RLENGTH - 2)
                        line = substr(line, 1, RSTART - 1) substr(line, RSTART + RLENGTH)
                        n = split(opts, o, /[ \t]+/)
                        for (i = 1; i <= n; i++)
                            if (o[i] ~ /^signed-by=/) { signed = o[i]; sub(/^signed-by=/, "", signed) }
                    }
                    n = split(line, f, /[ \t]+/)
                    # f[1] may be empty when the line starts with blanks.
                    s = (f[1] == "") ? 2 : 1
                    if (f[s + 2] != want) next
                    for (i = s + 3; i <= n; i++)
                        if (f[i] == "main") {
                            printf "%s\t%s\n", f[s + 1], (signed ~ /^\// ? signed : "")
                            exit
                        }
                }
            ' "${file}"
        fi
    done | head -n 1
}

cleanup_old_suite() {
    rm -f "${kSourceFile}" "${kPinFile}"
}

add_old_suite() {
    local codename mirror uri keyring
    # shellcheck source=/dev/null
    codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
    [[ -n "${codename}" ]] || die "cannot tell the Debian release from /etc/os-release"
    mirror="$(find_debian_mirror "${codename}")" || true
    [[ -n "${mirror}" ]] \
        || die "no '${codename} main' Debian archive found in /etc/apt/sources.list{,.d}"
    uri="${mirror%%$'\t'*}"
    keyring="${mirror#*$'\t'}"
    log "adding ${kOldSuite} from ${uri} (temporarily, pinned low)"

    trap cleanup_old_suite EXIT
    {
        echo "Types: deb"
        echo "URIs: ${uri}"
        echo "Suites: ${kOldSuite}"
        echo "Components: main"
        [[ -n "${keyring}" ]] && echo "Signed-By: ${keyring}"
        true
    } >"${kSourceFile}"
    cat >"${kPinFile}" <<EOF
Package: *
Pin: release n=${kOldSuite}
Pin-Priority: 100
EOF
}

# Picks the Squirrel 3.1 version the old suite offers, preferring the known one.
squirrel_version() {
    local versions
    versions="$(apt-cache madison libsquirrel-dev | awk -F'|' '{gsub(/ /, "", $2); print $2}')"
    if grep -qxF "${kSquirrelVersion}" <<<"${versions}"; then
        echo "${kSquirrelVersion}"
    else
        grep -m1 -E "^${kSquirrelSeries//./\\.}-" <<<"${versions}" || true
    fi
}

main() {
    local missing=()
    mapfile -t missing < <(missing_packages "${kPackages[@]}")
    local need_squirrel=0
    squirrel_ok || need_squirrel=1

    if [[ ${#missing[@]} -eq 0 && ${need_squirrel} -eq 0 ]]; then
        log "all dependencies already installed"
        return 0
    fi

    [[ ${need_squirrel} -eq 1 ]] && add_old_suite

    log "updating package lists"
    apt-get "${kAptOpts[@]}" update -q

    local install=("${missing[@]}")
    if [[ ${need_squirrel} -eq 1 ]]; then
        local version
        version="$(squirrel_version)"
        [[ -n "${version}" ]] || die "no Squirrel ${kSquirrelSeries} found in ${kOldSuite}"
        local pkg
        for pkg in "${kSquirrelPackages[@]}"; do
            install+=("${pkg}=${version}")
        done
    fi

    log "installing: ${install[*]}"
    apt-get "${kAptOpts[@]}" install -y -q --no-install-recommends "${install[@]}"

    if [[ ${need_squirrel} -eq 1 ]]; then
        cleanup_old_suite
        trap - EXIT
    fi

    mapfile -t missing < <(missing_packages "${kPackages[@]}")
    [[ ${#missing[@]} -eq 0 ]] || die "still missing after install: ${missing[*]}"
    squirrel_ok || die "Squirrel ${kSquirrelSeries} still missing after install"
    log "done"
}

main "$@"
