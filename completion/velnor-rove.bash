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
# first word is a snapshot file (*.yaml), as is the value of save's --output;
# the values of --debug, --npy and --npy-meta are file names.
#
# Names from the registry and from the file system are data: each candidate
# is inserted quoted for the shell (as the word was typed so far: bare with
# backslashes, or inside the quote left open), so that it stays one literal
# word whatever it holds. The words of the line are read from COMP_LINE, so
# that "path=@file" and "path=value" complete whatever COMP_WORDBREAKS holds.

_velnor_rove_commands="info dump access listen signal bench help save diff apply browse"
_velnor_rove_global_opts="--debug --host --platform --application --port --path --quiet --verbose --json --glob --all"
_velnor_rove_modes="Now Lmt Position Event SingleEvent"

_velnor_rove_command_opts() {
    case "$1" in
        info) echo "--max-length" ;;
        dump) echo "--level --full-path --show-flags --compact --max-length" ;;
        listen) echo "--wait --ping --time --initial --count --until" ;;
        save) echo "--output" ;;
        apply) echo "--dry-run --force" ;;
        browse) echo "--read-only --mouse" ;;
        signal) echo "--lmt --size --offset --mode --behavior --queue-size --loop --timeout --header --binary --csv --stat --plot --plot-size --ymin --ymax --npy --npy-meta --npy-each" ;;
    esac
}

# Options whose value is the next word.
_velnor_rove_takes_value() {
    case "$1" in
        --debug|-d|--host|-h|--port|-p|--max-length|-m|--level|-l|--wait|-w|--ping|-I|--lmt|--size|-s|\
        --offset|-o|--output|--mode|--behavior|-b|--queue-size|--timeout|-T|--count|--until|\
        --plot-size|--ymin|--ymax|--npy|--npy-meta) return 0 ;;
    esac
    return 1
}

# Splits the line up to the cursor into shell words as the shell will see
# them (quotes and backslashes removed; nothing is expanded) into _vr_words;
# the last one is the word being completed ("" after a blank). Readline
# replaces that word from its last word break (COMP_WORDBREAKS) on, or from
# inside the quote left open at its end: _vr_keep is how many characters of
# the word stay, _vr_open the open quote ("", ' or "), and _vr_tilde is 1
# when the word starts with a bare "~".
_velnor_rove_split() {
    local line="${COMP_LINE:0:COMP_POINT}" breaks=$' \t\n"\'@><=;|&(:'
    [[ -v COMP_WORDBREAKS ]] && breaks="$COMP_WORDBREAKS"
    local i ch n=${#line} word="" quote="" started=0 brk=0 open=0
    _vr_words=() _vr_tilde=0
    for (( i = 0; i < n; i++ )); do
        ch="${line:i:1}"
        if [[ $quote == "'" ]]; then
            if [[ $ch == "'" ]]; then quote=""; else word+="$ch"; fi
        elif [[ $quote == '"' ]]; then
            if [[ $ch == '"' ]]; then
                quote=""
            elif [[ $ch == '\' && ${line:i+1:1} == [\$\`\"\\] ]]; then
                (( i++ )); word+="${line:i:1}"
            else
                word+="$ch"
            fi
        elif [[ $ch == [[:blank:]] || $ch == $'\n' ]]; then
            (( started )) && _vr_words+=("$word")
            word="" started=0 brk=0 _vr_tilde=0
        elif [[ $ch == '\' ]]; then
            (( i + 1 < n )) && { (( i++ )); word+="${line:i:1}"; }
        elif [[ $ch == "'" || $ch == '"' ]]; then
            quote="$ch" open=${#word}
        else
            [[ $ch == '~' && -z $word && $started == 0 ]] && _vr_tilde=1
            word+="$ch"
            # Readline leaves "@" and "$" in the text it replaces.
            [[ $breaks == *"$ch"* ]] && brk=${#word}
            [[ $breaks == *"$ch"* && $ch == [@\$] ]] && brk=$(( ${#word} - 1 ))
        fi
        [[ $ch == [[:blank:]] || $ch == $'\n' ]] || started=1
    done
    _vr_words+=("$word")
    _vr_open="$quote" _vr_keep=$brk
    [[ -n $quote ]] && _vr_keep=$open
    return 0
}

# Sets `quoted` to $1 as it reads inside the quote $2 left open: inside
# single quotes a quote closes, is escaped and opens again; inside double
# quotes \, ", $ and ` take a backslash.
_velnor_rove_inside_quote() {
    local i ch
    quoted=""
    for (( i = 0; i < ${#1}; i++ )); do
        ch="${1:i:1}"
        if [[ $2 == "'" && $ch == "'" ]]; then
            quoted+="'\\''"
            continue
        fi
        if [[ $2 == '"' ]]; then
            case $ch in '\'|'"'|'$'|'`') quoted+='\' ;; esac
        fi
        quoted+="$ch"
    done
}

# The candidates in the arguments (whole words, as the command is to see
# them) that continue the word being completed, quoted for the shell and
# added to COMPREPLY: what readline puts in place of the text after the
# word break or the open quote. Inner nodes end with "." so that the next
# segment can follow at once: then no blank is added after a sole
# candidate. Linear in the number of candidates: a node may have ten
# thousand children.
_velnor_rove_offer() {
    local cur="${_vr_words[${#_vr_words[@]}-1]}" c rest quoted nospace=0
    local -a rests=()
    for c in "$@"; do
        [[ $c == "$cur"* ]] || continue
        rests+=("${c:_vr_keep}")
        [[ $c == *. ]] && nospace=1
    done
    (( nospace )) && compopt -o nospace 2>/dev/null
    local IFS=.
    if [[ "${rests[*]}" != *[![:alnum:]._/+,:@%=-]* ]]; then
        # Nothing to quote (the usual names): one step for all.
        COMPREPLY+=("${rests[@]}")
        return 0
    fi
    if [[ -z $_vr_open ]]; then
        # One printf for all; %q puts no line end in what it writes, and
        # writes '' only for an empty text, which needs nothing inserted.
        local -a all
        local joined
        printf -v joined '%q\n' "${rests[@]}"
        mapfile -t all <<<"${joined%$'\n'}"
        all=("${all[@]/#\'\'/}")
        # A "~" typed first stays the home directory: its file names keep it bare.
        local esc='\~' tilde='~'
        [[ $_vr_keep == 0 && $_vr_tilde == 1 ]] && all=("${all[@]/#"$esc"/"$tilde"}")
        COMPREPLY+=("${all[@]}")
        return 0
    fi
    for rest in "${rests[@]}"; do
        _velnor_rove_inside_quote "$rest" "$_vr_open"
        COMPREPLY+=("$quoted")
    done
    return 0
}

# Reads the double-quoted words that --complete and --complete-value print
# (with the quote and the backslash escaped by a backslash) into _vr_found,
# in one pass over the line.
_velnor_rove_unquote() {
    local -a pieces
    local i piece word="" slashes
    _vr_found=()
    mapfile -d '"' -t pieces <<<"$1"
    if [[ $1 != *\\* ]]; then
        # Nothing escaped: every other piece is a word.
        for (( i = 1; i < ${#pieces[@]} - 1; i += 2 )); do _vr_found+=("${pieces[i]}"); done
        return 0
    fi
    for (( i = 1; i < ${#pieces[@]} - 1; i++ )); do
        piece="${pieces[i]}"
        # A piece that ends in an odd number of backslashes ends at an escaped quote.
        slashes="${piece##*[!\\]}"
        [[ $piece == *[!\\]* ]] || slashes="$piece"
        if (( ${#slashes} % 2 )); then
            word+="${piece%\\}\""
            continue
        fi
        word+="$piece"
        _vr_found+=("${word//\\\\/\\}")
        word=""
        (( i++ ))  # the blank between two words
    done
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

_velnor_rove_tool() {
    local tool="${_vr_words[0]}"
    [[ $tool == "~/"* ]] && tool="$HOME/${tool#"~/"}"
    "$tool" "$@" 2>/dev/null
}

# Node paths that continue the partial path $1: the children of everything
# before its last dot, so that a name typed in full still offers its longer
# siblings.
_velnor_rove_paths() {
    local parent="" line
    [[ $1 == *.* ]] && parent="${1%.*}."
    local -a path=()
    [[ -n $parent ]] && path=(-- "$parent")
    line=$(_velnor_rove_tool access --complete "$parent" --long true "${_vr_conn[@]}" "${path[@]}") || return 0
    _velnor_rove_unquote "$line"
    _velnor_rove_offer "${_vr_found[@]}"
}

# The names an enumeration node takes, after "path=".
_velnor_rove_enum_values() {
    local path="${1%%=*}" line
    line=$(_velnor_rove_tool access --complete-value "$path" "${_vr_conn[@]}") || return 0
    _velnor_rove_unquote "$line"
    local value
    local -a words=()
    for value in "${_vr_found[@]}"; do words+=("$path=$value"); done
    _velnor_rove_offer "${words[@]}"
}

# Files below the partial name $1, each after $2; only snapshot files
# (*.yaml) and directories when $3 is "snapshots".
_velnor_rove_files() {
    local f
    local -a files=()
    while IFS= read -r f; do
        [[ $3 != snapshots || -d $f || $f == *.yaml ]] && files+=("$2$f")
    done < <(compgen -f -- "$1")
    _velnor_rove_offer "${files[@]}"
}

_velnor_rove() {
    COMPREPLY=()
    local _vr_words _vr_open _vr_keep _vr_tilde _vr_conn _vr_found
    _velnor_rove_split
    local n=${#_vr_words[@]}
    local cur="${_vr_words[n-1]}" prev=""
    (( n >= 2 )) && prev="${_vr_words[n-2]}"

    local command=access word
    for word in $_velnor_rove_commands; do
        [[ ${_vr_words[1]} == "$word" && $n -gt 2 ]] && command="$word"
    done

    if [[ ${_vr_words[1]} == help ]]; then
        (( n == 3 )) && _velnor_rove_offer $_velnor_rove_commands
        return 0
    fi

    if _velnor_rove_takes_value "$prev"; then
        [[ $command == save && ( $prev == -o || $prev == --output ) ]] && _velnor_rove_files "$cur" "" snapshots
        case "$prev" in
            --mode|--behavior|-b) _velnor_rove_offer $_velnor_rove_modes ;;
            --debug|-d|--npy|--npy-meta) _velnor_rove_files "$cur" "" ;;
        esac
        return 0
    fi

    case "$cur" in
        --mode=*|--behavior=*)
            local mode
            local -a modes=()
            for mode in $_velnor_rove_modes; do modes+=("${cur%%=*}=$mode"); done
            _velnor_rove_offer "${modes[@]}"
            return 0 ;;
        --plot=*)
            _velnor_rove_offer --plot=auto --plot=braille --plot=block --plot=ascii
            return 0 ;;
        -*)
            _velnor_rove_offer $_velnor_rove_global_opts $(_velnor_rove_command_opts "$command")
            return 0 ;;
        *=@*)
            # A value read from a file.
            _velnor_rove_files "${cur#*=@}" "${cur%%=@*}=@"
            return 0 ;;
        *=*)
            _velnor_rove_connection
            _velnor_rove_enum_values "$cur"
            return 0 ;;
    esac

    if [[ ( $command == diff || $command == apply ) && $n -eq 3 ]]; then
        _velnor_rove_files "$cur" "" snapshots
        return 0
    fi

    _velnor_rove_connection
    (( n == 2 )) && _velnor_rove_offer $_velnor_rove_commands
    _velnor_rove_paths "$cur"
    return 0
}

complete -F _velnor_rove velnor-rove
