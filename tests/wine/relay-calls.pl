#!/usr/bin/perl
# Reads a Wine relay trace (WINEDEBUG=+relay on stderr) and prints one line per
# call of the named functions, in call order:
#
#   FUNCTION <TAB> ARG1 <TAB> ARG2 ... <TAB> RETVAL
#
# A string argument is given as its decoded text, written for one line: "\\"
# for a backslash, "\t", "\n" and "\r" for those characters, UTF-8 otherwise.
# A string that Wine cut short ends in "\..." (a lone backslash cannot occur
# otherwise). Any other argument is Wine's hexadecimal text, as is RETVAL,
# which is "?" when the trace holds no return for the call.
#
# Usage: relay-calls.pl TRACE FUNCTION...     (FUNCTION as dll.name, e.g. user32.MessageBoxW)
use strict;
use warnings;

binmode STDOUT, ':encoding(UTF-8)';

my ($trace, @wanted) = @ARGV;
die "usage: relay-calls.pl TRACE FUNCTION...\n" unless defined $trace && @wanted;
my %wanted = map { $_ => 1 } @wanted;

# Wine writes \n \r \t \" \\ and every other character outside printable ASCII
# as a backslash and four hexadecimal digits.
sub decode_wine_string {
    my ($escaped) = @_;
    my %simple = (n => "\n", r => "\r", t => "\t", '"' => '"', '\\' => '\\');
    $escaped =~ s/\\(?:([nrt"\\])|([0-9A-Fa-f]{4}))/defined $1 ? $simple{$1} : chr(hex $2)/ge;
    $escaped =~ s/([\x{D800}-\x{DBFF}])([\x{DC00}-\x{DFFF}])/
        chr(0x10000 + ((ord($1) - 0xD800) << 10) + (ord($2) - 0xDC00))/ge;
    return $escaped;
}

sub one_line {
    my ($text) = @_;
    $text =~ s/\\/\\\\/g;
    $text =~ s/\t/\\t/g;
    $text =~ s/\n/\\n/g;
    $text =~ s/\r/\\r/g;
    return $text;
}

# Splits Wine's argument text: "1400 L\"a,b\",00000005" gives ("a,b", "00000005").
sub split_arguments {
    my ($text) = @_;
    my @arguments;
    while (length $text) {
        if ($text =~ s/^[0-9A-Fa-f]+ L?"((?:[^"\\]|\\.)*)"(\.\.\.)?//) {
            my ($body, $cut) = ($1, $2);
            push @arguments, one_line(decode_wine_string($body)) . (defined $cut ? '\\...' : '');
        } elsif ($text =~ s/^([^,]*)//) {
            push @arguments, $1;
        }
        last unless $text =~ s/^,//;
    }
    return @arguments;
}

open my $in, '<:raw', $trace or die "relay-calls.pl: cannot read $trace: $!\n";
my @calls;      # [function, arguments, retval]
my %open;       # "thread function" -> stack of indexes into @calls
while (my $line = <$in>) {
    $line =~ s/\r?\n\z//;
    if ($line =~ /^([0-9A-Fa-f]+):Call ([\w.]+)\((.*)\) ret=[0-9A-Fa-f]+$/ && $wanted{$2}) {
        push @calls, [$2, [split_arguments($3)], '?'];
        push @{ $open{"$1 $2"} }, $#calls;
    } elsif ($line =~ /^([0-9A-Fa-f]+):Ret  ([\w.]+)\(\) retval=([0-9A-Fa-f]+)/ && $wanted{$2}) {
        my $stack = $open{"$1 $2"};
        $calls[pop @$stack][2] = $3 if $stack && @$stack;
    }
}
close $in;

print join("\t", $_->[0], @{ $_->[1] }, $_->[2]), "\n" for @calls;
