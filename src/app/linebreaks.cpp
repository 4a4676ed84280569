#include "linebreaks.h"

#include <algorithm>
#include <array>

namespace {

// The line breaking classes printable ASCII takes; a blank comes last, outside the pair
// table.
enum Class : unsigned char { OP, CL, CP, QU, EX, SY, IS, PR, PO, NU, AL, HY, BA, SP };

// clang-format off
constexpr std::array<Class, 0x5f> classes = {
    //  ' '  !   "   #   $   %   &   '   (   )   *   +   ,   -   .   /
        SP,  EX, QU, AL, PR, PO, AL, QU, OP, CP, AL, PR, IS, HY, IS, SY,
    //  0-9, then :  ;   <   =   >   ?
        NU,  NU, NU, NU, NU, NU, NU, NU, NU, NU, IS, IS, AL, AL, AL, EX,
    //  @, A-Z, then [  \   ]   ^   _
        AL,  AL, AL, AL, AL, AL, AL, AL, AL, AL, AL, AL, AL, AL, AL, AL,
        AL,  AL, AL, AL, AL, AL, AL, AL, AL, AL, AL, OP, PR, CP, AL, AL,
    //  `, a-z, then {  |   }   ~
        AL,  AL, AL, AL, AL, AL, AL, AL, AL, AL, AL, AL, AL, AL, AL, AL,
        AL,  AL, AL, AL, AL, AL, AL, AL, AL, AL, AL, OP, BA, CL, AL,
};
// clang-format on

// What the pair of classes (before, after) allows, with or without blanks between them:
// a direct break, a break only after blanks (indirect), no break. Qt's table has more
// actions (after Hebrew, before wide brackets, around combining marks); between ASCII
// characters they act as these.
enum Action : unsigned char { PB, DB, IB };

// clang-format off
constexpr Action pairs[SP][SP] = {
    //       OP  CL  CP  QU  EX  SY  IS  PR  PO  NU  AL  HY  BA
    /* OP */ {PB, PB, PB, PB, PB, PB, PB, PB, PB, PB, PB, PB, PB},
    /* CL */ {DB, PB, PB, IB, PB, PB, PB, DB, DB, DB, DB, IB, IB},
    /* CP */ {DB, PB, PB, IB, PB, PB, PB, DB, DB, IB, IB, IB, IB},
    /* QU */ {PB, PB, PB, IB, PB, PB, PB, IB, IB, IB, IB, IB, IB},
    /* EX */ {DB, PB, PB, IB, PB, PB, PB, DB, DB, DB, DB, IB, IB},
    /* SY */ {DB, PB, PB, IB, PB, PB, PB, DB, DB, DB, DB, IB, IB},
    /* IS */ {DB, PB, PB, IB, PB, PB, PB, DB, DB, DB, IB, IB, IB},
    /* PR */ {DB, PB, PB, IB, PB, PB, PB, DB, DB, IB, IB, IB, IB},
    /* PO */ {DB, PB, PB, IB, PB, PB, PB, DB, DB, IB, IB, IB, IB},
    /* NU */ {IB, PB, PB, IB, PB, PB, PB, IB, IB, IB, IB, IB, IB},
    /* AL */ {IB, PB, PB, IB, PB, PB, PB, IB, IB, IB, IB, IB, IB},
    /* HY */ {DB, PB, PB, IB, PB, PB, PB, DB, DB, IB, DB, IB, IB},
    /* BA */ {DB, PB, PB, IB, PB, PB, PB, DB, DB, DB, DB, IB, IB},
};
// clang-format on

// Numbers are not broken: (PR|PO)? (OP|HY)? NU (NU|SY|IS)* (CL|CP)? (PR|PO)? holds
// together, and a sequence that does not end so keeps only the breaks at its ends.
enum Number : unsigned char { XX, PRPO, OPHY, NUM, SYIS, CLCP };
enum Step : unsigned char { None, Begin, Continue, Break };

// clang-format off
constexpr Step numberSteps[CLCP + 1][CLCP + 1] = {
    //   XX        PRPO      OPHY      NUM       SYIS      CLCP
    {None,     Begin,    Begin,    Begin,    None,     None    }, // XX
    {None,     Begin,    Continue, Continue, None,     None    }, // PRPO
    {None,     Begin,    Begin,    Continue, None,     None    }, // OPHY
    {Break,    Break,    Break,    Continue, Continue, Continue}, // NUM
    {Break,    Break,    Break,    Continue, Continue, Continue}, // SYIS
    {Break,    Continue, Break,    Break,    Break,    Break   }, // CLCP
};
// clang-format on

constexpr Number numberClass(Class c, char16_t ch)
{
    switch (c) {
    case PR:
    case PO:
        return PRPO;
    case OP:
    case HY:
        return OPHY;
    case NU:
        return NUM;
    case SY:
    case IS:
        return SYIS;
    case CL:
    case CP:
        return CLCP;
    case AL: // a mathematical symbol counts as a separator in a number
        return ch == u'<' || ch == u'=' || ch == u'>' || ch == u'~' ? SYIS : XX;
    default:
        return XX;
    }
}

constexpr std::array<Number, 0x5f> numberClasses = [] {
    std::array<Number, 0x5f> numbers {};
    for (std::size_t i = 0; i < numbers.size(); ++i)
        numbers[i] = numberClass(classes[i], char16_t(0x20 + i));
    return numbers;
}();

} // namespace

bool asciiLineBreaks(QStringView text, bool *breakBefore)
{
    if (!isPrintableAscii(text))
        return false;
    const qsizetype size = text.size();

    std::fill(breakBefore, breakBefore + size + 1, false);
    if (size == 0)
        return true;
    // `before` is the class of the last character that is not a blank (a blank at the
    // start counts as a letter), `previous` that of the character just before. Nothing
    // comes before the first character, and it starts no number.
    Class previous = classes[text[0].unicode() - 0x20];
    Class before = previous == SP ? AL : previous;
    Number number = XX;
    qsizetype numberStart = 0;
    for (qsizetype i = 1; i < size; ++i) {
        const std::size_t index = text[i].unicode() - 0x20;
        const Class c = classes[index];
        if (c == SP) {
            previous = SP;
            continue;
        }
        const Number n = numberClasses[index];
        switch (numberSteps[number][n]) {
        case Break:
            std::fill(breakBefore + numberStart + 1, breakBefore + i, false);
            number = XX;
            break;
        case None:
            number = XX;
            break;
        case Begin:
            numberStart = i;
            number = n;
            break;
        case Continue:
            number = n;
            break;
        }
        const Action action = pairs[before][c];
        breakBefore[i] = action == DB || (action == IB && previous == SP);
        before = previous = c;
    }
    if (numberSteps[number][XX] == Break)
        std::fill(breakBefore + numberStart + 1, breakBefore + size, false);
    breakBefore[0] = false;
    breakBefore[size] = true;
    return true;
}
