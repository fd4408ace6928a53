# bash completion for velnor-rove.
#
# Install: source this file from ~/.bashrc, or copy it to
# /usr/share/bash-completion/completions/velnor-rove (or
# ~/.local/share/bash-completion/completions/velnor-rove).
#
# Completes command words, option names, access modes, node paths one
# dotted segment at a time, and the names of an enumeration node after
# "path=", by asking the registry named by the --host, --port,
# --platform/--application options typed so far. After diff and apply, the
# first word is a snapshot file (*.yaml), as is the value of save's --output.

_velnor_rove_commands="info dump access listen signal bench help save diff apply browse"
_velnor_rove_global_opts="--debug --host --platform --application --port --path --quiet --verbose --json --glob --all"

_velnor_rove_command_opts() {
    case "$1" in
        info) echo "--max-length" ;;
        dump) echo "--level --full-path --show-flags --compact --max-length" ;;
        listen) echo "--wait --ping --time --initial --count --until" ;;
        save) echo "--output" ;;
        apply) echo "--dry-run --force" ;;
        browse) echo "--read-only --mouse" ;;
        signal) echo "--lmt --size --offset --mode --behavior --queue-size --loop --timeout --header --binary --csv --stat" ;;
    esac
}

# Options whose value is the next word.
_velnor_rove_takes_value() {
    case "$1" in
        --debug|-d|--host|-h|--port|-p|--max-length|-m|--level|-l|--wait|-w|--ping|-I|--lmt|--size|-s|\
        --offset|-o|--output|--mode|--behavior|-b|--queue-size|--timeout|-T|--count|--until) return 0 ;;
    esac
    return 1
}

# Snapshot files (*.yaml) and directories below the partial name $1.
_velnor_rove_snapshots() {
    local f
    while IFS= read -r f; do
        [[ -d $f || $f == *.yaml ]] && COMPREPLY+=("$f")
    done < <(compgen -f -- "$1")
    return 0
}

# The words of the line as the tool sees them: bash splits "a=b" and "a:b"
# into three words (COMP_WORDBREAKS); join them again up to the cursor word.
_velnor_rove_words() {
    _vr_words=()
    local i w joined=0
    for (( i = 0; i <= COMP_CWORD && i < ${#COMP_WORDS[@]}; i++ )); do
        w="${COMP_WORDS[i]}"
        if (( ${#_vr_words[@]} > 0 )) && [[ $w == "=" || $w == ":" || $joined == 1 ]]; then
            _vr_words[${#_vr_words[@]}-1]+="$w"
            [[ $w == "=" || $w == ":" ]] && joined=1 || joined=0
        else
            _vr_words+=("$w")
            joined=0
        fi
    done
    [[ $COMP_CWORD -ge ${#COMP_WORDS[@]} ]] && _vr_words+=("")
}

# The connection options typed so far, to pass on to the tool.
_velnor_rove_connection() {
    _vr_conn=()
    local i w n=${#_vr_words[@]}
    for (( i = 1; i < n - 1; i++ )); do
        w="${_vr_words[i]}"
        case "$w" in
            --host|-h|--port|-p) (( i + 1 < n - 1 )) && _vr_conn+=("$w" "${_vr_words[i+1]}"); (( i++ )) ;;
            --host=*|--port=*|--platform|-P|--application|-A) _vr_conn+=("$w") ;;
        esac
    done
}

# Node paths below the partial path $1, as the registry lists them.
_velnor_rove_paths() {
    local cur="$1" tool="${COMP_WORDS[0]/#\~/$HOME}" line cand rest
    line=$("$tool" access --complete "$cur" --long true "${_vr_conn[@]}" -- "$cur" 2>/dev/null) || return
    local -a found=()
    rest="$line"
    # Candidates are double-quoted words; names are never evaluated.
    while [[ $rest =~ ^[[:space:]]*\"([^\"]*)\"(.*)$ ]]; do
        cand="${BASH_REMATCH[1]}"
        rest="${BASH_REMATCH[2]}"
        cand="${cand% }"
        [[ $cand == "$cur"* ]] && found+=("$cand")
    done
    local c nospace=0
    for c in "${found[@]}"; do
        [[ $c == *. ]] && nospace=1
        COMPREPLY+=("$c")
    done
    # Inner nodes end with "." so that the next segment can follow at once.
    (( nospace )) && compopt -o nospace 2>/dev/null
    return 0
}

# The names an enumeration node takes, after "path=".
_velnor_rove_enum_values() {
    local path="${1%%=*}" typed="${1#*=}" tool="${COMP_WORDS[0]/#\~/$HOME}" line rest cand prefix
    prefix="$path="
    # When "=" breaks words, bash replaces only the part after it.
    [[ $COMP_WORDBREAKS == *=* ]] && prefix=""
    line=$("$tool" access --complete-value "$path" "${_vr_conn[@]}" 2>/dev/null) || return
    rest="$line"
    while [[ $rest =~ ^[[:space:]]*\"([^\"]*)\"(.*)$ ]]; do
        cand="${BASH_REMATCH[1]}"
        rest="${BASH_REMATCH[2]}"
        [[ $cand == "$typed"* ]] && COMPREPLY+=("$prefix$cand")
    done
}

_velnor_rove() {
    COMPREPLY=()
    local _vr_words _vr_conn
    _velnor_rove_words
    local n=${#_vr_words[@]}
    local cur="${_vr_words[n-1]}" prev=""
    (( n >= 2 )) && prev="${_vr_words[n-2]}"

    local command=access word
    for word in $_velnor_rove_commands; do
        [[ ${_vr_words[1]} == "$word" && $n -gt 2 ]] && command="$word"
    done

    if [[ ${_vr_words[1]} == help ]]; then
        (( n == 3 )) && COMPREPLY=($(compgen -W "$_velnor_rove_commands" -- "$cur"))
        return 0
    fi

    if _velnor_rove_takes_value "$prev"; then
        [[ $command == save && ( $prev == -o || $prev == --output ) ]] && _velnor_rove_snapshots "$cur"
        case "$prev" in
            --mode|--behavior|-b) COMPREPLY=($(compgen -W "Now Lmt Position Event SingleEvent" -- "$cur")) ;;
            --debug|-d) COMPREPLY=($(compgen -f -- "$cur")) ;;
        esac
        return 0
    fi

    case "$cur" in
        --mode=*|--behavior=*)
            COMPREPLY=($(compgen -W "Now Lmt Position Event SingleEvent" -- "${cur#*=}"))
            return 0 ;;
        -*)
            COMPREPLY=($(compgen -W "$_velnor_rove_global_opts $(_velnor_rove_command_opts "$command")" -- "$cur"))
            return 0 ;;
        *=@*)
            # A value read from a file. When "=" breaks words, bash replaces
            # only the part after it.
            local file="${cur#*=@}" prefix="${cur%%=*}=@"
            [[ $COMP_WORDBREAKS == *=* ]] && prefix="@"
            local f
            while IFS= read -r f; do COMPREPLY+=("$prefix$f"); done < <(compgen -f -- "$file")
            return 0 ;;
        *=*)
            _velnor_rove_connection
            _velnor_rove_enum_values "$cur"
            return 0 ;;
    esac

    if [[ ( $command == diff || $command == apply ) && $n -eq 3 ]]; then
        _velnor_rove_snapshots "$cur"
        return 0
    fi

    _velnor_rove_connection
    (( n == 2 )) && COMPREPLY=($(compgen -W "$_velnor_rove_commands" -- "$cur"))
    _velnor_rove_paths "$cur"
    return 0
}

complete -F _velnor_rove velnor-rove
