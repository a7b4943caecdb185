# Shared helpers of the scripts. Sourced, not run.

# Installs the Debian packages that are missing, when running as root; otherwise says which
# ones are missing and goes on (the build then tells what it lacks).
install_packages() {
    local missing=()
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "== installing: ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
    else
        echo "== missing packages (run as root to install): ${missing[*]}" >&2
    fi
}

# Runs a command in a private network namespace with only the loopback interface up, when
# that can be done (root, unshare and ip present); otherwise runs it plainly.
run_isolated() {
    if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null && command -v ip >/dev/null \
        && unshare -n true 2>/dev/null; then
        unshare -n bash -c 'ip link set lo up && exec "$@"' isolated "$@"
    else
        echo "== note: no private network namespace; running on the host's loopback" >&2
        "$@"
    fi
}
