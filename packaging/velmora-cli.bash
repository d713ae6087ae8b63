# bash completion for velmora-cli
_velmora_cli()
{
    local cur prev words cword
    _init_completion || return
    local commands="encrypt decrypt zip unzip list rename undo-rename"
    if [[ $cword -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi
    case $prev in
        -t|--target|-r|--recursive)
            _filedir -d
            return ;;
        -p|--password|--rule)
            return ;;
        --password-file|-o|--output)
            _filedir
            return ;;
    esac
    local opts
    case ${words[1]} in
        encrypt|decrypt) opts="-t --target -p --password --password-file -r --recursive -v --verbose -h --help" ;;
        zip) opts="-p --password --password-file --ask-password -r --recursive -v --verbose -h --help" ;;
        unzip) opts="-t --target -p --password --password-file -v --verbose -h --help" ;;
        list) opts="-o --output -r --recursive -v --verbose -h --help" ;;
        rename) opts="--rule --replace --first -n --dry-run -r --recursive -v --verbose -h --help" ;;
        undo-rename) opts="-v --verbose -h --help" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$opts" -- "$cur"))
    else
        _filedir
    fi
}
complete -F _velmora_cli velmora-cli
